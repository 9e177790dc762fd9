// The DOSBox configuration texts that the launcher writes as dosbox.conf. The three texts
// share one body and differ only in the screen size of the fullscreen and window settings;
// the body is stored once and the chosen text is rendered when it is needed.
#ifndef LAUNCH_CONFIG_TEMPLATES_H_
#define LAUNCH_CONFIG_TEMPLATES_H_

#include <stdint.h>

namespace launcher {

// One configuration text: 8-bit ASCII, CR LF line ends, no terminator, `length` bytes.
struct ConfigTemplate {
  const char* resolution;  // value of fullresolution and windowresolution, e.g. "1280x800"
  int32_t length;          // bytes of the whole text
};

// Below 800 pixels the 640x480 text, up to 1599 the 1280x800 text, from 1600 the 2560x1600
// text. Heights of 0 and below (no display found) get the smallest. The result lives for the
// whole process.
const ConfigTemplate& SelectTemplate(int32_t displayHeight);

// Writes the whole text of `config` to `out`, which has room for config.length bytes.
void RenderTemplate(const ConfigTemplate& config, char* out);

}  // namespace launcher

#endif  // LAUNCH_CONFIG_TEMPLATES_H_
