#include "launch/config_templates.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace launcher_test {
namespace {

using launcher::ConfigTemplate;
using launcher::RenderTemplate;
using launcher::SelectTemplate;

std::string Rendered(int32_t height) {
  const ConfigTemplate& config = SelectTemplate(height);
  std::string text(static_cast<size_t>(config.length), '\0');
  RenderTemplate(config, text.data());
  return text;
}

// Splits on CR LF; a bare CR or LF anywhere makes the split fail the test.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      ADD_FAILURE() << "text does not end in CR LF";
      break;
    }
    lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(lines.back().find_first_of("\r\n"), std::string::npos) << lines.back();
    start = end + 2;
  }
  return lines;
}

struct Section {
  std::string name;
  size_t commentLines;
  std::vector<std::string> settings;
};

std::vector<Section> ExpectedSections(const std::string& resolution) {
  return {
      {"sdl",
       17,
       {"fullscreen=false", "fulldouble=true", "fullresolution=" + resolution,
        "windowresolution=" + resolution, "output=openglnb", "autolock=true", "sensitivity=100",
        "waitonerror=true", "priority=higher,normal", "mapperfile=mapper-0.74.map",
        "usescancodes=true"}},
      {"dosbox", 8, {"language=", "machine=svga_s3", "captures=capture", "memsize=16"}},
      {"render", 5, {"frameskip=0", "aspect=false", "scaler=none"}},
      {"cpu", 16, {"core=auto", "cputype=auto", "cycles=auto", "cycleup=10", "cycledown=20"}},
      {"mixer", 6, {"nosound=false", "rate=44100", "blocksize=1024", "prebuffer=20"}},
      {"midi", 6, {"mpu401=intelligent", "mididevice=default", "midiconfig="}},
      {"sblaster",
       17,
       {"sbtype=sb16", "sbbase=220", "irq=7", "dma=1", "hdma=5", "sbmixer=true", "oplmode=auto",
        "oplemu=default", "oplrate=44100"}},
      {"gus",
       13,
       {"gus=false", "gusrate=44100", "gusbase=240", "gusirq=5", "gusdma=3",
        "ultradir=C:\\ULTRASND"}},
      {"speaker",
       8,
       {"pcspeaker=true", "pcrate=44100", "tandy=auto", "tandyrate=44100", "disney=true"}},
      {"joystick",
       13,
       {"joysticktype=auto", "timed=true", "autofire=false", "swap34=false", "buttonwrap=false"}},
      {"serial", 17, {"serial1=dummy", "serial2=dummy", "serial3=disabled", "serial4=disabled"}},
      {"dos", 4, {"xms=true", "ems=true", "umb=true", "keyboardlayout=auto"}},
      {"ipx", 1, {"ipx=false"}},
  };
}

// Each comment block names every key of its section, right-aligned before a colon.
void ExpectKeysDocumented(const Section& section, const std::vector<std::string>& comments) {
  size_t width = 0;
  for (const auto& setting : section.settings) width = std::max(width, setting.find('='));
  size_t next = 0;
  for (const auto& setting : section.settings) {
    const std::string key = setting.substr(0, setting.find('='));
    const std::string label = "#" + std::string(width - key.size() + 1, ' ') + key + ": ";
    while (next < comments.size() && comments[next].rfind(label, 0) != 0) ++next;
    EXPECT_LT(next, comments.size()) << "[" << section.name << "] does not describe " << key;
  }
}

struct Size {
  int32_t height;
  const char* resolution;
  size_t length;
};

class ConfigText : public testing::TestWithParam<Size> {};

TEST_P(ConfigText, HasTheLayoutAndSettingsDosboxReads) {
  const auto [height, resolution, length] = GetParam();
  const std::string text = Rendered(height);
  EXPECT_EQ(text.size(), length);
  EXPECT_EQ(text.find('\t'), std::string::npos);
  EXPECT_EQ(text.find('\0'), std::string::npos);
  for (unsigned char c : text) ASSERT_LT(c, 0x80) << "not 7-bit ASCII";
  EXPECT_EQ(text.substr(text.size() - 42), "# You can put your MOUNT lines here.\r\n\r\n\r\n");

  const std::vector<std::string> lines = Lines(text);
  ASSERT_EQ(lines.size(), 243u);
  EXPECT_EQ(lines[0],
            "# This is the configurationfile for DOSBox 0.74. (Please use the latest version of "
            "DOSBox)");
  EXPECT_EQ(lines[1], "# Lines starting with a # are commentlines and are ignored by DOSBox.");
  EXPECT_EQ(lines[2], "# They are used to (briefly) document the effect of each option.");
  EXPECT_EQ(lines[3], "");

  size_t at = 4;
  for (const Section& section : ExpectedSections(resolution)) {
    SCOPED_TRACE(section.name);
    ASSERT_EQ(lines[at++], "[" + section.name + "]");
    std::vector<std::string> comments;
    while (at < lines.size() && lines[at].rfind("#", 0) == 0) comments.push_back(lines[at++]);
    EXPECT_EQ(comments.size(), section.commentLines);
    ExpectKeysDocumented(section, comments);
    ASSERT_EQ(lines[at++], "");
    for (const auto& setting : section.settings) EXPECT_EQ(lines[at++], setting);
    ASSERT_EQ(lines[at++], "");
  }
  const std::vector<std::string> autoexec(lines.begin() + static_cast<long>(at), lines.end());
  EXPECT_EQ(autoexec, (std::vector<std::string>{"[autoexec]",
                                                "# Lines in this section will be run at startup.",
                                                "# You can put your MOUNT lines here.", "", ""}));
}

INSTANTIATE_TEST_SUITE_P(AllSizes, ConfigText,
                         testing::Values(Size{480, "640x480", 10967}, Size{1080, "1280x800", 10969},
                                         Size{2160, "2560x1600", 10971}));

TEST(ConfigTemplates, TextsDifferOnlyInTheResolutionLines) {
  const std::vector<std::string> small = Lines(Rendered(0));
  const std::vector<std::string> medium = Lines(Rendered(800));
  const std::vector<std::string> large = Lines(Rendered(1600));
  ASSERT_EQ(small.size(), medium.size());
  ASSERT_EQ(small.size(), large.size());
  size_t differing = 0;
  for (size_t i = 0; i < small.size(); ++i) {
    if (small[i] == medium[i] && small[i] == large[i]) continue;
    ++differing;
    EXPECT_TRUE(small[i].rfind("fullresolution=", 0) == 0 ||
                small[i].rfind("windowresolution=", 0) == 0)
        << small[i];
  }
  EXPECT_EQ(differing, 2u);
  EXPECT_EQ(SelectTemplate(800).length, SelectTemplate(799).length + 2);
  EXPECT_EQ(SelectTemplate(1600).length, SelectTemplate(1599).length + 2);
}

TEST(ConfigTemplates, HeightLimitsChooseTheText) {
  EXPECT_STREQ(SelectTemplate(-1).resolution, "640x480");
  EXPECT_STREQ(SelectTemplate(0).resolution, "640x480");
  EXPECT_STREQ(SelectTemplate(799).resolution, "640x480");
  EXPECT_STREQ(SelectTemplate(800).resolution, "1280x800");
  EXPECT_STREQ(SelectTemplate(1599).resolution, "1280x800");
  EXPECT_STREQ(SelectTemplate(1600).resolution, "2560x1600");
  EXPECT_STREQ(SelectTemplate(INT32_MAX).resolution, "2560x1600");
  EXPECT_STREQ(SelectTemplate(INT32_MIN).resolution, "640x480");
}

}  // namespace
}  // namespace launcher_test
