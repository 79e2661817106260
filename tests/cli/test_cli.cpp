// ostrivo-cli as a user runs it: its output against the engine's, the
// round trip through --simulate, and every way a batch can go wrong.
#include <glib.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "image_support.h"

using namespace ostrivo;
using namespace ostrivo::testing;

namespace {

struct CliRun {
  int status = -1;
  std::string out, err;
};

// Runs the command line with `args`, no terminal attached.
CliRun run_cli(const std::vector<std::string> &args) {
  std::vector<gchar *> argv = {const_cast<gchar *>(OSTRIVO_CLI_PATH)};
  for (const auto &a : args) argv.push_back(const_cast<gchar *>(a.c_str()));
  argv.push_back(nullptr);
  CliRun r;
  gchar *out = nullptr, *err = nullptr;
  gint wait = 0;
  GError *error = nullptr;
  if (!g_spawn_sync(nullptr, argv.data(), nullptr, G_SPAWN_DEFAULT, nullptr, nullptr, &out, &err,
                    &wait, &error)) {
    ADD_FAILURE() << error->message;
    g_error_free(error);
    return r;
  }
  r.out = out;
  r.err = err;
  g_free(out);
  g_free(err);
  r.status = WIFEXITED(wait) ? WEXITSTATUS(wait) : -1;
  return r;
}

bool exists(const std::string &path) { return g_file_test(path.c_str(), G_FILE_TEST_EXISTS); }

class Cli : public ::testing::Test {
 protected:
  std::string dir;

  void SetUp() override {
    gchar *made = g_dir_make_tmp("ostrivo-cli-XXXXXX", nullptr);
    ASSERT_NE(made, nullptr);
    dir = made;
    g_free(made);
  }
  void TearDown() override {
    if (!HasFailure()) std::system(("rm -rf '" + dir + "'").c_str());
  }
  std::string path(const std::string &name) const { return dir + "/" + name; }

  std::string write(const std::string &name, const cli::Image &im) {
    std::string error;
    EXPECT_TRUE(cli::save_image(im, path(name), &error)) << error;
    return path(name);
  }

  // Files in the folder whose names start with a dot: left-over temporaries.
  int hidden_files() const {
    int count = 0;
    GDir *d = g_dir_open(dir.c_str(), 0, nullptr);
    while (const gchar *name = g_dir_read_name(d)) count += name[0] == '.';
    g_dir_close(d);
    return count;
  }
};

const BlurVals kSettings{8.0, 30.0, 0.002, 2.0, 0, 0};
const std::vector<std::string> kSettingArgs = {"--length", "8",     "--direction",   "30",
                                               "-k",       "0.002", "--frame-width", "2"};

std::vector<std::string> with(std::vector<std::string> args, const std::vector<std::string> &more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

}  // namespace

TEST_F(Cli, OutputIsTheEnginesRepairOfTheEvenRegion) {
  // 61 x 47: the region is 60 x 46, the last column and row are kept.
  const cli::Image rgb = make_image(47, 61, 3, 3);
  const std::string in = write("odd.png", rgb);
  const CliRun r = run_cli(with(kSettingArgs, {in, "--output", path("odd-out.png")}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(differences(load(path("odd-out.png")), engine_repair(rgb, 0, 0, 60, 46, kSettings)),
            "");

  const cli::Image rgba = make_image(30, 40, 4, 4);
  const std::string in4 = write("alpha.png", rgba);
  BlurVals bright = kSettings;
  bright.repair_brightness = 1;
  const CliRun r4 =
      run_cli(with(kSettingArgs, {"--repair-brightness", in4, "-o", path("alpha-out.png")}));
  ASSERT_EQ(r4.status, 0) << r4.err;
  EXPECT_EQ(differences(load(path("alpha-out.png")), engine_repair(rgba, 0, 0, 40, 30, bright)),
            "");
  EXPECT_EQ(hidden_files(), 0);
}

TEST_F(Cli, DefaultsAndDefaultOutputName) {
  const cli::Image im = make_image(20, 30, 3, 5);
  const std::string in = write("photo.png", im);
  const CliRun r = run_cli({in});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, in + " -> " + path("photo-repaired.png") + "\n");
  EXPECT_EQ(r.err, "");  // no terminal, no progress bar
  EXPECT_EQ(differences(load(path("photo-repaired.png")),
                        engine_repair(im, 0, 0, 30, 20, kDefaultBlurVals)),
            "");
}

TEST_F(Cli, SimulateThenRepairRestoresThePhoto) {
  const cli::Image sharp = load(OSTRIVO_SOURCE_DIR "/data/coffee.png");
  ASSERT_EQ(run_cli({"-q", "--simulate", "-l", "10", "-d", "30",
                     OSTRIVO_SOURCE_DIR "/data/coffee.png", "-o", path("blurred.png")})
                .status,
            0);
  // --simulate blurs circularly, which the direct path (no frame) undoes.
  ASSERT_EQ(run_cli({"-q", "-l", "10", "-d", "30", "-f", "0", path("blurred.png"), "-o",
                     path("repaired.png")})
                .status,
            0);
  const double blurred = psnr(load(path("blurred.png")), sharp);
  const double repaired = psnr(load(path("repaired.png")), sharp);
  EXPECT_LT(blurred, 23.0);
  EXPECT_GT(repaired, 33.0);
}

TEST_F(Cli, BundledSampleIsRepairedWithItsKnownMotion) {
  // The sample's blur runs across its borders, as a real one does: the
  // frame handles that.
  ASSERT_EQ(run_cli({"-q", "-l", "10", "-d", "30", "-f", "1",
                     OSTRIVO_SOURCE_DIR "/data/coffee-blurred.png", "-o", path("sample.png")})
                .status,
            0);
  const cli::Image sharp = load(OSTRIVO_SOURCE_DIR "/data/coffee.png");
  EXPECT_LT(psnr(load(OSTRIVO_SOURCE_DIR "/data/coffee-blurred.png"), sharp), 23.0);
  EXPECT_GT(psnr(load(path("sample.png")), sharp), 30.0);
}

TEST_F(Cli, BadInputsAreNamedAndTheOthersStillProcessed) {
  const std::string good = write("good.png", make_image(10, 12, 3, 6));
  std::ofstream(path("notes.png")) << "not an image";
  const CliRun r = run_cli({"-O", path("out"), path("missing.png"), path("notes.png"), good});
  EXPECT_EQ(r.status, 2) << "no such --output-dir yet";
  g_mkdir(path("out").c_str(), 0755);

  const CliRun r2 = run_cli({"-O", path("out"), path("missing.png"), path("notes.png"), good});
  EXPECT_EQ(r2.status, 1);
  EXPECT_NE(r2.err.find(path("missing.png") + ": cannot read"), std::string::npos) << r2.err;
  EXPECT_NE(r2.err.find(path("notes.png") + ": cannot read"), std::string::npos) << r2.err;
  EXPECT_TRUE(exists(path("out/good.png")));
  EXPECT_FALSE(exists(path("out/missing.png")));
  EXPECT_FALSE(exists(path("out/notes.png")));
}

TEST_F(Cli, OutputsAreReplacedOnlyWithForceAndInputsNever) {
  const cli::Image im = make_image(10, 12, 3, 7);
  const std::string in = write("in.png", im);
  const std::string out = write("out.png", make_image(4, 4, 3, 8));

  const CliRun kept = run_cli({"-l", "5", in, "-o", out});
  EXPECT_EQ(kept.status, 1);
  EXPECT_NE(kept.err.find("exists; use --force"), std::string::npos) << kept.err;
  EXPECT_EQ(load(out).cols, 4);

  EXPECT_EQ(run_cli({"-q", "-l", "5", "--force", in, "-o", out}).status, 0);
  EXPECT_EQ(load(out).cols, 12);

  for (const std::string &same : {in, dir + "/./in.png"}) {
    const CliRun over = run_cli({"-l", "5", "--force", in, "-o", same});
    EXPECT_EQ(over.status, 1);
    EXPECT_NE(over.err.find("would overwrite the input"), std::string::npos) << over.err;
  }
  EXPECT_EQ(differences(load(in), im), "");
  EXPECT_EQ(hidden_files(), 0);
}

TEST_F(Cli, OutOfRangeOrMalformedOptionsAreRefusedBeforeAnyWork) {
  const std::string in = write("in.png", make_image(10, 12, 3, 9));
  const std::vector<std::vector<std::string>> bad = {
      {"--length", "0"},     {"--length", "101"},  {"--length", "nan"}, {"--direction", "360"},
      {"--direction", "-1"}, {"-k", "0"},          {"-k", "1.5"},       {"--frame-width", "11"},
      {"--length", "abc"},   {"--no-such-option"},
  };
  for (const auto &args : bad) {
    const CliRun r = run_cli(with(args, {in, "-o", path("never.png")}));
    EXPECT_EQ(r.status, 2) << args[0];
    EXPECT_NE(r.err.find("ostrivo-cli: "), std::string::npos) << r.err;
  }
  EXPECT_EQ(run_cli({in, path("in2.png"), "-o", path("never.png")}).status, 2);
  EXPECT_EQ(run_cli({}).status, 2);
  EXPECT_EQ(run_cli({in, "-o", path("never.bmp")}).status, 1);  // no writer for .bmp
  EXPECT_FALSE(exists(path("never.png")));
  EXPECT_EQ(hidden_files(), 0);
}

TEST_F(Cli, WritesJpegAndTiffByExtension) {
  const std::string in = write("in.png", make_image(16, 16, 4, 10));
  for (const char *name : {"out.jpg", "out.tif"}) {
    const CliRun r = run_cli({"-q", "-l", "3", in, "-o", path(name)});
    ASSERT_EQ(r.status, 0) << r.err;
    const cli::Image back = load(path(name));
    EXPECT_EQ(back.cols, 16) << name;
  }
}

TEST_F(Cli, GreyImagesAreRepairedAsRgb) {
  if (!g_find_program_in_path("convert")) GTEST_SKIP() << "ImageMagick's convert is needed";
  const std::string rgb = write("colour.png", make_image(20, 24, 3, 11));
  ASSERT_EQ(std::system(("convert '" + rgb + "' -colorspace Gray -define png:color-type=0 '" +
                         path("grey.png") + "'")
                            .c_str()),
            0);
  const cli::Image grey = load(path("grey.png"));  // the loader hands it over as RGB
  ASSERT_EQ(grey.bpp, 3);
  const CliRun r = run_cli({"-q", "-l", "4", path("grey.png"), "-o", path("grey-out.png")});
  ASSERT_EQ(r.status, 0) << r.err;
  BlurVals s = kDefaultBlurVals;
  s.length = 4;
  EXPECT_EQ(differences(load(path("grey-out.png")), engine_repair(grey, 0, 0, 24, 20, s)), "");
}

TEST_F(Cli, HelpListsEveryOptionAndVersionPrints) {
  const CliRun r = run_cli({"--help"});
  EXPECT_EQ(r.status, 0);
  for (const char *option :
       {"--length", "--direction", "--k", "--frame-width", "--repair-brightness", "--output",
        "--output-dir", "--force", "--quiet", "--simulate", "--version", "INPUT"})
    EXPECT_NE(r.out.find(option), std::string::npos) << option;
  const CliRun v = run_cli({"--version"});
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(v.out.rfind("ostrivo-cli ", 0), 0u) << v.out;
}

TEST_F(Cli, ProgressBarOnlyOnATerminal) {
  if (!g_find_program_in_path("script")) GTEST_SKIP() << "script(1) is needed for a terminal";
  const std::string in = write("in.png", make_image(30, 40, 3, 12));
  const std::string command = std::string("script -qec \"") + OSTRIVO_CLI_PATH + " -l 5 '" + in +
                              "' -o '" + path("tty.png") + "'\" /dev/null";
  gchar *out = nullptr;
  gint status = 0;
  ASSERT_TRUE(g_spawn_command_line_sync(command.c_str(), &out, nullptr, &status, nullptr));
  const std::string shown = out;
  g_free(out);
  EXPECT_NE(shown.find("100%"), std::string::npos) << shown;
  EXPECT_EQ(run_cli({"-q", "-l", "5", "--force", in, "-o", path("tty.png")}).out, "");
}
