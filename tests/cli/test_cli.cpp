// ostrivo-cli as a user runs it: its output against the engine's, the
// round trip through --simulate, and every way a batch can go wrong.
#include <glib.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>
#include <vips/vips.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
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
const std::vector<std::string> kSettingArgs = {"--model",       "classic", "--length", "8",
                                               "--direction",   "30",      "-k",       "0.002",
                                               "--frame-width", "2"};

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
  // The default motion is 1 pixel: every sample comes back as v / (1 + K),
  // which rounds to v.
  const cli::Image im = make_image(21, 31, 3, 5);
  const std::string in = write("photo.png", im);
  const CliRun r = run_cli({in});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, in + " -> " + path("photo-repaired.png") + "\n");
  EXPECT_EQ(r.err, "");  // no terminal, no progress bar
  EXPECT_EQ(differences(load(path("photo-repaired.png")), im), "");
}

TEST_F(Cli, SmoothModelIsTheDefaultAndTakesFractionalMotions) {
  const cli::Image im = make_image(40, 50, 3, 13);
  const std::string in = write("in.png", im);
  ASSERT_EQ(run_cli({"-q", "-l", "12.5", "-d", "33.5", in, "-o", path("smooth.png")}).status, 0);
  EXPECT_EQ(differences(load(path("smooth.png")), smooth_result(im, 12.5, 33.5)), "");
}

TEST_F(Cli, SimulateThenRepairRestoresThePhotoWithEitherModel) {
  const cli::Image sharp = load(OSTRIVO_SOURCE_DIR "/data/coffee.png");
  // The classic blur is circular, which its direct path (no frame) undoes
  // exactly; the smooth one blurs a mirrored extension, which its repair
  // assumes, but near the edges a mirror turns a slanted motion round.
  for (auto [model, restored] : {std::pair{"classic", 38.0}, {"smooth", 29.0}}) {
    SCOPED_TRACE(model);
    ASSERT_EQ(run_cli({"-q", "--force", "--simulate", "-m", model, "-l", "10", "-d", "30",
                       OSTRIVO_SOURCE_DIR "/data/coffee.png", "-o", path("blurred.png")})
                  .status,
              0);
    ASSERT_EQ(run_cli({"-q", "--force", "-m", model, "-l", "10", "-d", "30", "-f", "0",
                       path("blurred.png"), "-o", path("repaired.png")})
                  .status,
              0);
    const double blurred = psnr(load(path("blurred.png")), sharp);
    const double repaired = psnr(load(path("repaired.png")), sharp);
    EXPECT_LT(blurred, 26.0);
    EXPECT_GT(repaired, restored);
  }
}

TEST_F(Cli, BundledSampleIsRepairedWithItsKnownMotion) {
  // The sample's blur runs across its borders, as a real one does: the
  // frame handles that.
  ASSERT_EQ(run_cli({"-q", "--model", "classic", "-l", "10", "-d", "30", "-f", "1",
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
      {"--length", "0"},     {"--length", "101"},  {"--length", "nan"},   {"--direction", "360"},
      {"--direction", "-1"}, {"-k", "0"},          {"-k", "1.5"},         {"--frame-width", "11"},
      {"--length", "abc"},   {"--no-such-option"}, {"--model", "linear"}, {"--quality", "0"},
      {"--threads", "-1"},
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

TEST_F(Cli, WritesEveryFormatByExtension) {
  const std::string in = write("in.png", make_image(16, 16, 4, 10));
  for (const char *name : {"out.jpg", "out.tif", "out.webp", "out.heic", "out.avif", "out.jxl"}) {
    const CliRun r = run_cli({"-q", "-l", "3", in, "-o", path(name)});
    ASSERT_EQ(r.status, 0) << r.err;
    const cli::Image back = load(path(name));
    EXPECT_EQ(back.cols, 16) << name;
  }
}

TEST_F(Cli, GreyImagesStayGreyWithTheLevelsOfTheRgbRoute) {
  const cli::Image rgb = make_image(20, 24, 3, 11);
  cli::Image grey(rgb.rows, rgb.cols, 1), grey_rgb(rgb.rows, rgb.cols, 3);
  for (std::size_t p = 0; p < grey.samples(); ++p)
    grey.data()[p] = grey_rgb.data()[3 * p] = grey_rgb.data()[3 * p + 1] =
        grey_rgb.data()[3 * p + 2] = rgb.data()[3 * p];
  const std::string in = write("grey.png", grey);
  const CliRun r =
      run_cli({"-q", "--model", "classic", "-l", "4", "-b", in, "-o", path("out.png")});
  ASSERT_EQ(r.status, 0) << r.err;
  const cli::Image out = load(path("out.png"));
  ASSERT_EQ(out.bpp, 1);
  BlurVals s = kDefaultBlurVals;
  s.length = 4;
  s.repair_brightness = 1;
  const cli::Image expected = engine_repair(grey_rgb, 0, 0, 24, 20, s);
  for (std::size_t p = 0; p < out.samples(); ++p)
    ASSERT_EQ(out.data()[p], expected.data()[3 * p]) << "pixel " << p;
}

TEST_F(Cli, HelpListsEveryOptionAndVersionPrints) {
  const CliRun r = run_cli({"--help"});
  EXPECT_EQ(r.status, 0);
  for (const char *option :
       {"--length", "--direction", "--k", "--model", "--frame-width", "--repair-brightness",
        "--linear-light", "--output", "--output-dir", "--quality", "--force", "--quiet",
        "--simulate", "--estimate", "--json", "--auto", "--threads", "--version", "INPUT"})
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

namespace {

// `exiftool -s3 TAG...` of a file: one value a line.
std::string exif(const std::string &file, const std::string &tags) {
  gchar *out = nullptr;
  const std::string command = "exiftool -s3 -n " + tags + " '" + file + "'";
  if (!g_spawn_command_line_sync(command.c_str(), &out, nullptr, nullptr, nullptr)) return "";
  std::string text = out;
  g_free(out);
  return text;
}

// The ICC profile a file carries, as bytes ("" for none).
std::string icc_of(const std::string &file) {
  VipsImage *im = vips_image_new_from_file(file.c_str(), nullptr);
  if (im == nullptr) return "";
  std::string bytes;
  const void *blob = nullptr;
  std::size_t length = 0;
  if (vips_image_get_typeof(im, VIPS_META_ICC_NAME) != 0 &&
      vips_image_get_blob(im, VIPS_META_ICC_NAME, &blob, &length) == 0)
    bytes.assign(static_cast<const char *>(blob), length);
  g_object_unref(im);
  return bytes;
}

}  // namespace

TEST_F(Cli, CameraMetadataAndColourProfileTravelAndOrientationIsApplied) {
  if (!g_find_program_in_path("exiftool")) GTEST_SKIP() << "exiftool is needed";
  // A 30 x 20 camera JPEG with a Display P3 profile, held on its side.
  const cli::Image im = make_image(20, 30, 3, 14);
  VipsImage *plain =
      vips_image_new_from_memory(im.data(), im.bytes(), im.cols, im.rows, 3, VIPS_FORMAT_UCHAR);
  VipsImage *p3 = nullptr;
  ASSERT_EQ(vips_icc_transform(plain, &p3, "p3", "input_profile", "srgb", nullptr), 0);
  ASSERT_EQ(vips_jpegsave(p3, path("camera.jpg").c_str(), nullptr), 0);
  g_object_unref(p3);
  g_object_unref(plain);
  ASSERT_EQ(std::system(("exiftool -q -overwrite_original -Make=Ostrivo -Model=Tester "
                         "'-DateTimeOriginal=2026:05:04 03:02:01' -Orientation#=6 '" +
                         path("camera.jpg") + "'")
                            .c_str()),
            0);
  const std::string icc = icc_of(path("camera.jpg"));
  ASSERT_GT(icc.size(), 100u);

  for (const char *name : {"out.jpg", "out.png"}) {
    SCOPED_TRACE(name);
    ASSERT_EQ(run_cli({"-q", "-l", "5", path("camera.jpg"), "-o", path(name)}).status, 0);
    EXPECT_EQ(exif(path(name), "-Make -Model -DateTimeOriginal -Orientation"),
              "Ostrivo\nTester\n2026:05:04 03:02:01\n1\n");
    EXPECT_EQ(icc_of(path(name)), icc);
    const cli::Image out = load(path(name));
    EXPECT_EQ(out.cols, 20);  // turned upright
    EXPECT_EQ(out.rows, 30);
  }
}

TEST_F(Cli, DamagedAndAbsurdFilesAreRefusedAndTheOthersStillDone) {
  const std::string good = write("good.png", make_image(20, 20, 3, 15));
  // A JPEG cut to a third of its length.
  const std::string whole = write("whole.jpg", make_image(200, 300, 3, 16));
  gchar *bytes = nullptr;
  gsize length = 0;
  ASSERT_TRUE(g_file_get_contents(whole.c_str(), &bytes, &length, nullptr));
  ASSERT_TRUE(g_file_set_contents(path("cut.jpg").c_str(), bytes, length / 3, nullptr));
  g_free(bytes);
  // A PNG whose header claims 60000 x 60000 pixels: 10 GB of samples.
  const std::string absurd = path("absurd.png");
  {
    auto chunk = [](std::string type, const std::string &data) {
      std::string out;
      for (int shift : {24, 16, 8, 0}) out += static_cast<char>((data.size() >> shift) & 0xff);
      const std::string body = type + data;
      const uLong crc = crc32(0, reinterpret_cast<const Bytef *>(body.data()), body.size());
      out += body;
      for (int shift : {24, 16, 8, 0}) out += static_cast<char>((crc >> shift) & 0xff);
      return out;
    };
    const std::string ihdr("\x00\x00\xea\x60\x00\x00\xea\x60\x08\x02\x00\x00\x00", 13);
    const std::string rows(10 * (1 + 3 * 60000), '\0');  // the first ten rows, all black
    std::string idat(compressBound(rows.size()), '\0');
    uLongf idat_size = idat.size();
    ASSERT_EQ(compress(reinterpret_cast<Bytef *>(&idat[0]), &idat_size,
                       reinterpret_cast<const Bytef *>(rows.data()), rows.size()),
              Z_OK);
    idat.resize(idat_size);
    std::ofstream(absurd, std::ios::binary)
        << std::string("\x89PNG\r\n\x1a\n", 8) << chunk("IHDR", ihdr) << chunk("IDAT", idat)
        << chunk("IEND", "");
  }

  const CliRun r = run_cli({"-O", path("out"), path("cut.jpg"), absurd, good});
  ASSERT_EQ(r.status, 2) << "no such --output-dir yet";
  g_mkdir(path("out").c_str(), 0755);
  const CliRun r2 = run_cli({"-q", "-O", path("out"), path("cut.jpg"), absurd, good});
  EXPECT_EQ(r2.status, 1);
  EXPECT_NE(r2.err.find(path("cut.jpg") + ": cannot read"), std::string::npos) << r2.err;
  EXPECT_NE(r2.err.find(absurd + ": the area to repair is too large"), std::string::npos) << r2.err;
  EXPECT_FALSE(exists(path("out/cut.jpg")));
  EXPECT_FALSE(exists(path("out/absurd.png")));
  EXPECT_TRUE(exists(path("out/good.png")));
}

TEST_F(Cli, HeicPhotosAreRead) {
  const cli::Image im = make_image(32, 48, 3, 17);
  const std::string in = write("phone.heic", im);
  ASSERT_EQ(run_cli({"-q", "-l", "3", in, "-o", path("phone.png")}).status, 0);
  const cli::Image out = load(path("phone.png"));
  EXPECT_EQ(out.cols, 48);
  EXPECT_EQ(out.rows, 32);
}

TEST_F(Cli, SixteenBitFilesAreRepairedAtSixteenBits) {
  // The sharp photo at 16 bits, blurred at 16 bits: the 16-bit repair keeps
  // what the 8-bit route rounds away, and the deconvolution amplifies.
  cli::Image sharp8 = load(OSTRIVO_SOURCE_DIR "/data/coffee.png");
  cli::Image sharp(sharp8.rows, sharp8.cols, sharp8.bpp, 16);
  for (std::size_t k = 0; k < sharp.samples(); ++k)
    sharp.words()[k] = static_cast<std::uint16_t>(sharp8.data()[k] * 257);
  const std::string in = write("sharp16.png", sharp);
  ASSERT_EQ(
      run_cli({"-q", "--simulate", "-l", "9", "-d", "90", in, "-o", path("blurred16.png")}).status,
      0);
  const cli::Image blurred = load(path("blurred16.png"));
  ASSERT_EQ(blurred.bits, 16);
  cli::Image blurred8(blurred.rows, blurred.cols, blurred.bpp);
  for (std::size_t k = 0; k < blurred.samples(); ++k)
    blurred8.data()[k] = static_cast<guchar>((blurred.words()[k] + 128) / 257);
  write("blurred8.png", blurred8);

  for (const char *name : {"blurred16.png", "blurred8.png"})
    ASSERT_EQ(run_cli({"-q", "-l", "9", "-d", "90", "--solver", "wiener", "-k", "0.001", path(name),
                       "-o", path(std::string("repaired-") + name)})
                  .status,
              0);
  const cli::Image repaired16 = load(path("repaired-blurred16.png"));
  ASSERT_EQ(repaired16.bits, 16);
  std::vector<bool> seen(65536);
  int levels = 0;
  for (std::size_t k = 0; k < repaired16.samples(); ++k)
    levels += !seen[repaired16.words()[k]] && (seen[repaired16.words()[k]] = true);
  EXPECT_GT(levels, 256);
  const double psnr16 = psnr(repaired16, sharp);
  const double psnr8 = psnr(load(path("repaired-blurred8.png")), sharp8);
  EXPECT_GT(psnr16, psnr8 + 0.5);
}

TEST_F(Cli, AKernelOfAnyShapeIsSimulatedAndRepairedAsTheEngineDoesOnValuesAndInLight) {
  const cli::Image sharp = load(OSTRIVO_SOURCE_DIR "/data/coffee.png");
  const cli::Image kernel = shake_kernel_image(15);
  const std::string k = write("shake.png", kernel);

  for (const bool linear : {false, true}) {
    SCOPED_TRACE(linear ? "in linear light" : "on the values");
    std::vector<std::string> light;
    if (linear) light.push_back("--linear-light");
    std::vector<std::string> simulate = {"-q", "--simulate", "--kernel", k, "--force"};
    simulate.insert(simulate.end(), light.begin(), light.end());
    simulate.insert(simulate.end(),
                    {OSTRIVO_SOURCE_DIR "/data/coffee.png", "-o", path("blurred.png")});
    ASSERT_EQ(run_cli(simulate).status, 0);
    const cli::Image blurred = load(path("blurred.png"));
    EXPECT_EQ(differences(blurred, kernel_result(sharp, kernel, true, linear)), "");
    std::vector<std::string> repair = {"-q", "--kernel", k, "--force"};
    repair.insert(repair.end(), light.begin(), light.end());
    repair.insert(repair.end(), {path("blurred.png"), "-o", path("repaired.png")});
    ASSERT_EQ(run_cli(repair).status, 0);
    const cli::Image repaired = load(path("repaired.png"));
    EXPECT_EQ(differences(repaired, kernel_result(blurred, kernel, false, linear)), "");
    EXPECT_GT(psnr(repaired, sharp), psnr(blurred, sharp) + 3.0);
  }
}

TEST_F(Cli, KernelFilesThatCannotServeAreRefusedAndNothingIsWritten) {
  const std::string photo = write("photo.png", make_image(40, 40, 3, 3));
  cli::Image black(9, 9, 1), wide(1, 256, 1), half(21, 21, 1);
  std::fill(black.data(), black.data() + black.samples(), 0);
  std::fill(wide.data(), wide.data() + wide.samples(), 1);
  std::fill(half.data(), half.data() + half.samples(), 1);
  std::ofstream(path("text.png")) << "not an image";
  const struct {
    std::string kernel, message;
  } cases[] = {
      {path("missing.png"), "cannot read"},
      {path("text.png"), "cannot read"},
      {write("black.png", black), "no positive weight"},
      {write("wide.png", wide), "larger than 255 x 255 pixels"},
      {write("half.png", half), "larger than half the area to repair"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.kernel);
    const CliRun r = run_cli({"-q", "--kernel", c.kernel, photo, "-o", path("out.png")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_FALSE(g_file_test(path("out.png").c_str(), G_FILE_TEST_EXISTS));
  }
  EXPECT_EQ(hidden_files(), 0);
}

TEST_F(Cli, EstimateGivesOneJsonLineAnInputAndRefusesToGuess) {
  const std::string sharp = OSTRIVO_SOURCE_DIR "/data/coffee.png";
  ASSERT_EQ(
      run_cli({"-q", "--simulate", "-l", "15", "-d", "60", sharp, "-o", path("moved.png")}).status,
      0);
  write("small.png", make_image(40, 40, 3, 19));
  cli::Image flat(100, 100, 3);
  std::memset(flat.data(), 128, flat.bytes());
  write("flat.png", flat);

  const CliRun r = run_cli(
      {"--estimate", "--json", path("moved.png"), path("small.png"), path("flat.png"), sharp});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(path("small.png") + ": too small"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(path("flat.png") + ": too flat"), std::string::npos) << r.err;
  std::istringstream lines(r.out);
  std::string moved, still, extra;
  ASSERT_TRUE(std::getline(lines, moved));
  ASSERT_TRUE(std::getline(lines, still));
  EXPECT_FALSE(std::getline(lines, extra)) << extra;

  char file[512] = {0}, model[16] = {0};
  double length = 0, direction = 0, k = 0, confidence = 0;
  int width = 0, height = 0;
  ASSERT_EQ(std::sscanf(moved.c_str(),
                        "{\"file\": \"%511[^\"]\", \"length\": %lf, \"direction\": %lf, \"k\": "
                        "%lf, \"confidence\": %lf, \"kernel_width\": %d, \"kernel_height\": %d, "
                        "\"model\": \"%15[a-z]\"}",
                        file, &length, &direction, &k, &confidence, &width, &height, model),
            8)
      << moved;
  EXPECT_EQ(std::string(model), "smooth");  // a straight motion
  // The extent counts every weight above 5 % of the peak, the faint haze a
  // blind estimate leaves beside the path included.
  constexpr int kExtentTolerance = 5;  // pixels
  EXPECT_NEAR(width, 15 * std::cos(60 * 3.14159265358979 / 180) + 1, kExtentTolerance);
  EXPECT_NEAR(height, 15 * std::sin(60 * 3.14159265358979 / 180) + 1, kExtentTolerance);
  EXPECT_EQ(std::string(file), path("moved.png"));
  EXPECT_NEAR(length, 15, 2);
  EXPECT_NEAR(direction, 60, 3);
  EXPECT_GE(k, 0.001);
  EXPECT_LE(confidence, 1.0);
  EXPECT_NE(still.find("\"length\": 1.00,"), std::string::npos) << still;  // no motion
  EXPECT_NE(still.find("\"model\": \"none\""), std::string::npos) << still;
  EXPECT_EQ(hidden_files(), 0);
}

TEST_F(Cli, AutoRepairsWithWhatItFindsAndSaysSo) {
  const cli::Image sharp = load(OSTRIVO_SOURCE_DIR "/data/coffee.png");
  const std::string in = OSTRIVO_SOURCE_DIR "/data/coffee.png";
  ASSERT_EQ(
      run_cli({"-q", "--simulate", "-l", "15", "-d", "60", in, "-o", path("moved.png")}).status, 0);
  const CliRun r = run_cli({"--auto", path("moved.png"), "-o", path("auto.png")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("repairing with a straight motion (the smooth line): length 1"),
            std::string::npos)
      << r.out;
  EXPECT_GT(psnr(load(path("auto.png")), sharp), psnr(load(path("moved.png")), sharp) + 3.0);

  // Settings given on the command line are kept.
  const CliRun given = run_cli({"--auto", "-d", "150", path("moved.png"), "-o", path("d150.png")});
  ASSERT_EQ(given.status, 0) << given.err;
  EXPECT_NE(given.out.find("direction 150.0 degrees"), std::string::npos) << given.out;

  // A photo without motion is kept as it was.
  const CliRun still = run_cli({"--auto", in, "-o", path("still.png")});
  ASSERT_EQ(still.status, 0) << still.err;
  EXPECT_NE(still.out.find("no motion found"), std::string::npos) << still.out;
  EXPECT_EQ(differences(load(path("still.png")), sharp), "");
  EXPECT_EQ(run_cli({"-q", "--auto", "--force", in, "-o", path("still.png")}).out, "");
}

TEST_F(Cli, AutoFindsACurvedShakesKernelAndWritesIt) {
  const cli::Image sharp = load(OSTRIVO_SOURCE_DIR "/data/coffee.png");
  // A quarter turn and a tail, 25 pixels across (a smaller one is nearly
  // straight).
  const std::string k = write("shake.png", shake_kernel_image(25));
  ASSERT_EQ(run_cli({"-q", "--simulate", "--kernel", k, OSTRIVO_SOURCE_DIR "/data/coffee.png", "-o",
                     path("shaken.png")})
                .status,
            0);
  const CliRun found =
      run_cli({"--estimate", "--json", "--kernel-out", path("found.png"), path("shaken.png")});
  ASSERT_EQ(found.status, 0) << found.err;
  EXPECT_NE(found.out.find("\"model\": \"kernel\""), std::string::npos) << found.out;
  // The kernel as an image: an odd square, its peak white.
  const cli::Image kernel = load(path("found.png"));
  ASSERT_EQ(kernel.bpp, 1);
  ASSERT_EQ(kernel.bits, 16);
  EXPECT_EQ(kernel.rows, kernel.cols);
  EXPECT_EQ(kernel.rows % 2, 1);
  EXPECT_EQ(*std::max_element(kernel.words(), kernel.words() + kernel.samples()), 65535);

  const CliRun r = run_cli({"--auto", path("shaken.png"), "-o", path("auto.png")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("that is not straight (its kernel)"), std::string::npos) << r.out;
  constexpr int kShift = 8;  // pixels: the kernel found is centred on its weight
  EXPECT_GT(shifted_psnr(load(path("auto.png")), sharp, kShift),
            shifted_psnr(load(path("shaken.png")), sharp, kShift) + 2.0);
  // --kernel-out wants an estimate, and one input.
  EXPECT_EQ(run_cli({"--kernel-out", path("k.png"), path("shaken.png")}).status, 2);
}
