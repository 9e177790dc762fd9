#include "launch/config_templates.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace launcher_test {
namespace {

std::string Rendered(int32_t height) {
  const launcher::ConfigTemplate& config = launcher::SelectTemplate(height);
  std::string text(static_cast<size_t>(config.length), '\0');
  launcher::RenderTemplate(config, text.data());
  return text;
}

// Each section: its name, how many comment lines it has and its settings, where R stands for
// the resolution.
const char* const kSections[] = {
    "sdl 17 fullscreen=false fulldouble=true fullresolution=R windowresolution=R output=openglnb "
    "autolock=true sensitivity=100 waitonerror=true priority=higher,normal "
    "mapperfile=mapper-0.74.map usescancodes=true",
    "dosbox 8 language= machine=svga_s3 captures=capture memsize=16",
    "render 5 frameskip=0 aspect=false scaler=none",
    "cpu 16 core=auto cputype=auto cycles=auto cycleup=10 cycledown=20",
    "mixer 6 nosound=false rate=44100 blocksize=1024 prebuffer=20",
    "midi 6 mpu401=intelligent mididevice=default midiconfig=",
    "sblaster 17 sbtype=sb16 sbbase=220 irq=7 dma=1 hdma=5 sbmixer=true oplmode=auto "
    "oplemu=default oplrate=44100",
    "gus 13 gus=false gusrate=44100 gusbase=240 gusirq=5 gusdma=3 ultradir=C:\\ULTRASND",
    "speaker 8 pcspeaker=true pcrate=44100 tandy=auto tandyrate=44100 disney=true",
    "joystick 13 joysticktype=auto timed=true autofire=false swap34=false buttonwrap=false",
    "serial 17 serial1=dummy serial2=dummy serial3=disabled serial4=disabled",
    "dos 4 xms=true ems=true umb=true keyboardlayout=auto",
    "ipx 1 ipx=false",
};

class ConfigText : public testing::TestWithParam<std::tuple<int32_t, std::string, size_t>> {};

TEST_P(ConfigText, HasTheLayoutAndSettingsDosboxReads) {
  const auto& [height, resolution, length] = GetParam();
  const std::string text = Rendered(height);
  EXPECT_EQ(text.size(), length);
  for (unsigned char c : text) ASSERT_TRUE((c >= ' ' && c < 0x7f) || c == '\r' || c == '\n') << +c;
  // Only the two resolution lines tell the texts apart.
  const auto unsized = [](const std::string& sized, const std::string& size) {
    return std::regex_replace(sized, std::regex("resolution=" + size), "resolution=");
  };
  EXPECT_EQ(unsized(text, resolution), unsized(Rendered(0), "640x480"));

  // Lines end in CR LF, the last one too, and no CR or LF stands alone.
  std::vector<std::string> lines;
  for (size_t start = 0, end = 0; start <= text.size(); start = end + 2) {
    end = std::min(text.find("\r\n", start), text.size());
    lines.push_back(text.substr(start, end - start));
  }
  ASSERT_EQ(lines.size(), 243u + 1);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\r') + std::count(text.begin(), text.end(), '\n'),
            2 * 243);
  const char* const header[] = {
      "# This is the configurationfile for DOSBox 0.74. (Please use the latest version of DOSBox)",
      "# Lines starting with a # are commentlines and are ignored by DOSBox.",
      "# They are used to (briefly) document the effect of each option.", ""};
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(lines[i], header[i]);

  size_t at = 4;
  for (const char* section : kSections) {
    std::istringstream fields(section);
    std::string name;
    size_t commentLines = 0;
    fields >> name >> commentLines;
    const std::vector<std::string> settings(std::istream_iterator<std::string>(fields), {});
    SCOPED_TRACE(name);
    ASSERT_EQ(lines[at++], "[" + name + "]");
    std::vector<std::string> comments;
    while (lines[at].rfind("#", 0) == 0) comments.push_back(lines[at++]);
    EXPECT_EQ(comments.size(), commentLines);
    ASSERT_EQ(lines[at++], "");
    // The comments name every key of the section, right-aligned before a colon.
    size_t width = 0;
    for (const auto& setting : settings) width = std::max(width, setting.find('='));
    for (const auto& setting : settings) {
      const std::string key = setting.substr(0, setting.find('='));
      const std::string label = "#" + std::string(width - key.size() + 1, ' ') + key + ": ";
      EXPECT_TRUE(std::any_of(comments.begin(), comments.end(), [&](const std::string& line) {
        return line.rfind(label, 0) == 0;
      })) << key;
      EXPECT_EQ(lines[at++], std::regex_replace(setting, std::regex("=R$"), "=" + resolution));
    }
    ASSERT_EQ(lines[at++], "");
  }
  EXPECT_EQ(
      std::vector<std::string>(lines.begin() + static_cast<long>(at), lines.end()),
      (std::vector<std::string>{"[autoexec]", "# Lines in this section will be run at startup.",
                                "# You can put your MOUNT lines here.", "", "", ""}));
}

INSTANTIATE_TEST_SUITE_P(AllSizes, ConfigText,
                         testing::Values(std::make_tuple(480, "640x480", 10967),
                                         std::make_tuple(1080, "1280x800", 10969),
                                         std::make_tuple(2160, "2560x1600", 10971)));

}  // namespace
}  // namespace launcher_test
