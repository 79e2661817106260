// The GIMP 3 plug-in in the real GIMP 3.0 (Debian 13 chroot), driven by one
// batch Python job: registration and arguments, non-interactive runs with
// arguments on RGB, RGBA, an odd selection, grey and 16-bit layers, blind
// estimation, and what it must refuse (last values need an interactive run:
// the dialog test has them). Results are compared
// byte for byte with the engine's own (built here, on this machine), and
// once with the GIMP 2.10 plug-in's.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "gimp/gimp_session.h"
#include "gimp3/gimp3_session.h"
#include "image_file.h"
#include "image_support.h"

using namespace ostrivo;
using ostrivo::cli::Image;
using ostrivo::testing::differences;
using ostrivo::testing::engine_repair;
using ostrivo::testing::Gimp3Session;
using ostrivo::testing::kernel_result;
using ostrivo::testing::load;
using ostrivo::testing::make_image;
using ostrivo::testing::psnr;
using ostrivo::testing::shake_kernel_image;
using ostrivo::testing::smooth_result;

namespace {

constexpr int kSetupTimeoutSeconds = 900;  // a first run makes the chroot
constexpr int kGimpTimeoutSeconds = 300;

// The classic settings every classic case runs with.
constexpr BlurVals kClassic{10.0, 30.0, 0.002, 2.0, 1, 0};

const char *kJob = R"PY(
def repair(name, out, select=None, **args):
    image = load(name)
    if select:
        image.select_rectangle(Gimp.ChannelOps.REPLACE, *select)
    status, message = run(image, **args)
    Gimp.Selection.none(image)
    save(image, out)
    image.delete()
    result(out, status)

result('label', proc.get_menu_label())
result('paths', list(proc.get_menu_paths()))
result('types', proc.get_image_types())
for param in proc.get_arguments()[3:]:
    bounds = f' {param.minimum} {param.maximum}' if hasattr(param, 'minimum') else ''
    result('arg-' + param.name, f'{param.value_type.name} {param.get_default_value()}{bounds}')

classic = dict(length=10.0, direction=30.0, k=0.002, frame_width=2.0, repair_brightness=True,
               model='classic')
repair('rgb.png', 'classic-rgb.png', **classic)
repair('rgba.png', 'classic-rgba.png', **classic)
repair('rgb.png', 'classic-odd.png', select=(13, 17, 201, 101), **classic)
repair('grey.png', 'classic-grey.png', **classic)
repair('rgb.png', 'smooth-rgb.png', length=12.5, direction=33.5)
repair('rgb16.png', 'smooth-16.png', length=9.0, direction=60.0)
repair('rgb.png', 'defaults.png')

repair('blurred.png', 'auto.png', auto_estimate=True)
repair('shaken.png', 'auto-kernel.png', auto_estimate=True)
repair('shaken.png', 'auto-light.png', auto_estimate=True, linear_light=True)
repair('blurred-k.png', 'kernel.png', model='kernel', kernel_file=Gio.File.new_for_path(D + 'k.png'))
image = load('rgb.png')
status, message = run(image, model='kernel')
result('no-kernel', f'{status} {message}')
image.delete()
repair('sharp.png', 'auto-sharp.png', auto_estimate=True)

image = load('rgb.png')
layer = image.get_layers()[0]
copy = layer.copy()
image.insert_layer(copy, None, 0)
status, message = run(image, drawables=[layer, copy], length=5.0)
result('two-layers', f'{status} {message}')
image.remove_layer(copy)
save(image, 'two-layers.png')
image.delete()

image = load('rgb.png')
image.convert_indexed(Gimp.ConvertDitherType.NONE, Gimp.ConvertPaletteType.GENERATE, 64, False, False, '')
status, message = run(image, length=5.0)
result('indexed', status)
image.delete()

image = load('rgb.png')
group = Gimp.GroupLayer.new(image, 'group')
image.insert_layer(group, None, 0)
status, message = run(image, drawables=[group], length=5.0)
result('group', f'{status} {message}')
result('done', 'yes')
)PY";

class Gimp3Batch : public ::testing::Test {
 protected:
  static Gimp3Session *session;
  static bool ran;

  static void SetUpTestSuite() {
    session = new Gimp3Session;
    ASSERT_TRUE(session->create(kSetupTimeoutSeconds)) << session->log;
    std::string error;
    const auto save = [&](const Image &im, const char *name) {
      ASSERT_TRUE(cli::save_image(im, session->host_path(name), &error)) << error;
    };
    save(make_image(160, 240, 3, 1), "rgb.png");
    save(make_image(90, 120, 4, 2), "rgba.png");
    save(grey_of(make_image(80, 100, 3, 3)), "grey.png");
    save(sixteen_bits(make_image(64, 96, 3, 4)), "rgb16.png");
    save(blurred_coffee(), "blurred.png");
    save(load(OSTRIVO_SOURCE_DIR "/data/coffee.png"), "sharp.png");
    save(shake_kernel_image(15), "k.png");
    save(kernel_result(load(OSTRIVO_SOURCE_DIR "/data/coffee.png"), shake_kernel_image(15), true),
         "blurred-k.png");
    save(kernel_result(load(OSTRIVO_SOURCE_DIR "/data/coffee.png"), shake_kernel_image(25), true),
         "shaken.png");
    ran = session->run(kJob, kGimpTimeoutSeconds);
  }
  static void TearDownTestSuite() {
    const auto *suite = ::testing::UnitTest::GetInstance()->current_test_suite();
    if (suite->failed_test_count() == 0 && std::getenv("OSTRIVO_KEEP_GIMP_FILES") == nullptr)
      session->remove();
    else
      std::printf("GIMP 3 session files kept in %s\n", session->host_dir.c_str());
    delete session;
  }

  void SetUp() override { ASSERT_EQ(session->result("done"), "yes") << session->log; }

  static Image grey_of(const Image &rgb) {
    Image grey(rgb.rows, rgb.cols, 1);
    for (std::size_t p = 0; p < grey.samples(); ++p) grey.data()[p] = rgb.data()[3 * p];
    return grey;
  }
  static Image sixteen_bits(const Image &im) {
    Image out(im.rows, im.cols, im.bpp, 16);
    for (std::size_t k = 0; k < im.samples(); ++k)  // levels between the 8-bit ones
      out.words()[k] = static_cast<std::uint16_t>(im.data()[k] * 257 + (k * 37) % 200);
    return out;
  }
  static Image blurred_coffee() {
    return smooth_result(load(OSTRIVO_SOURCE_DIR "/data/coffee.png"), 15, 60, true);
  }
  // The engine's smooth repair of a whole 8-bit image.
  static Image smooth_repair(const Image &in, double length, double direction) {
    return smooth_result(in, length, direction);
  }
  static Image input(const char *name) { return load(session->host_path(name)); }
  static Image output(const char *name) {
    EXPECT_EQ(session->result(name), "success") << name;
    return load(session->host_path(name));
  }
};

Gimp3Session *Gimp3Batch::session = nullptr;
bool Gimp3Batch::ran = false;

}  // namespace

TEST_F(Gimp3Batch, ProcedureIsRegisteredWithItsArgumentsAndMenuEntry) {
  EXPECT_EQ(session->result("label"), "_Ostrivo...");
  EXPECT_EQ(session->result("paths"), "['<Image>/Filters/Enhance']");
  EXPECT_EQ(session->result("types"), "RGB*, GRAY*");
  EXPECT_EQ(session->result("arg-length"), "gdouble 1.0 1.0 100.0");
  EXPECT_EQ(session->result("arg-direction"), "gdouble 0.0 0.0 359.0");
  EXPECT_EQ(session->result("arg-k"), "gdouble 0.001 0.001 1.0");
  EXPECT_EQ(session->result("arg-frame-width"), "gdouble 1.0 0.0 10.0");
  EXPECT_EQ(session->result("arg-repair-brightness"), "gboolean False");
  EXPECT_EQ(session->result("arg-model"), "gchararray smooth");
  EXPECT_EQ(session->result("arg-auto-estimate"), "gboolean False");
  EXPECT_EQ(session->result("arg-solver"), "gchararray sparse");
  EXPECT_EQ(session->result("arg-strength"), "gdouble 1.0 0.05 20.0");
  EXPECT_EQ(session->result("arg-kernel-file"), "GFile None");
  EXPECT_EQ(session->result("arg-linear-light"), "gboolean False");
}

TEST_F(Gimp3Batch, PlugInRunsWithoutWarnings) { EXPECT_EQ(session->plug_in_complaints(), ""); }

TEST_F(Gimp3Batch, ClassicModelGivesTheEnginesBytesOnRgbRgbaAndOddSelections) {
  const Image rgb = input("rgb.png");
  EXPECT_EQ(differences(output("classic-rgb.png"), engine_repair(rgb, 0, 0, 240, 160, kClassic)),
            "");
  const Image rgba = input("rgba.png");
  ASSERT_EQ(rgba.bpp, 4);
  EXPECT_EQ(differences(output("classic-rgba.png"), engine_repair(rgba, 0, 0, 120, 90, kClassic)),
            "");
  // A 201 x 101 box at (13, 17): its 200 x 100 corner is repaired, its last
  // column and row and everything outside it stay.
  EXPECT_EQ(differences(output("classic-odd.png"), engine_repair(rgb, 13, 17, 200, 100, kClassic)),
            "");
}

TEST_F(Gimp3Batch, GreyIsRepairedAsTheRgbRouteRepairsThatGrey) {
  const Image grey = input("grey.png");
  ASSERT_EQ(grey.bpp, 1);
  Image rgb(grey.rows, grey.cols, 3);
  for (std::size_t p = 0; p < grey.samples(); ++p)
    for (int c = 0; c < 3; ++c) rgb.data()[3 * p + c] = grey.data()[p];
  const Image expected = engine_repair(rgb, 0, 0, grey.cols, grey.rows, kClassic);
  const Image got = output("classic-grey.png");
  ASSERT_EQ(got.bpp, 1);
  for (std::size_t p = 0; p < got.samples(); ++p)
    ASSERT_EQ(got.data()[p], expected.data()[3 * p]) << "pixel " << p;
}

TEST_F(Gimp3Batch, SmoothModelIsTheDefaultAndGivesTheEnginesBytes) {
  const Image rgb = input("rgb.png");
  EXPECT_EQ(differences(output("smooth-rgb.png"), smooth_repair(rgb, 12.5, 33.5)), "");
  // The defaults (length 1) leave the picture as it was.
  EXPECT_EQ(differences(output("defaults.png"), rgb), "");
}

TEST_F(Gimp3Batch, SixteenBitLayersAreRepairedAtTheirOwnPrecision) {
  const Image in = input("rgb16.png");
  const Image got = output("smooth-16.png");
  ASSERT_EQ(got.bits, 16);
  std::set<std::uint16_t> levels(got.words(), got.words() + got.samples());
  EXPECT_GT(levels.size(), 256u);
  // The engine's repair of the same words, to within a level's rounding of
  // GIMP's conversions.
  const Image want = smooth_result(in, 9, 60);
  int far = 0;
  for (std::size_t k = 0; k < in.samples(); ++k)
    far += std::abs(got.words()[k] - want.words()[k]) > 1;
  EXPECT_EQ(far, 0);
}

TEST_F(Gimp3Batch, AutoEstimateRepairsABlurredPhotoAndLeavesASharpOne) {
  const Image sharp = load(OSTRIVO_SOURCE_DIR "/data/coffee.png");
  EXPECT_GT(psnr(output("auto.png"), sharp), psnr(input("blurred.png"), sharp) + 3.0);
  EXPECT_EQ(differences(output("auto-sharp.png"), sharp), "");
}

#ifdef OSTRIVO_CLI_PATH
TEST_F(Gimp3Batch, TheKernelModelGivesTheCommandLinesBytesAndWantsItsImage) {
  const std::string command = std::string(OSTRIVO_CLI_PATH) + " -q --force --kernel '" +
                              session->host_path("k.png") + "' '" +
                              session->host_path("blurred-k.png") + "' -o '" +
                              session->host_path("cli-kernel.png") + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(differences(output("kernel.png"), load(session->host_path("cli-kernel.png"))), "");
  EXPECT_EQ(session->result("no-kernel"), "calling-error Ostrivo: no kernel image is chosen.");
}
#endif

#ifdef OSTRIVO_CLI_PATH
// A straight blur is repaired with the line found, a curved one with its
// kernel, also in linear light: each as the command line's --auto repairs it.
TEST_F(Gimp3Batch, AutoEstimateGivesTheCommandLinesBytes) {
  struct Case {
    const char *input, *gimp, *options;
  };
  for (const Case &c : {Case{"blurred", "auto.png", ""}, Case{"shaken", "auto-kernel.png", ""},
                        Case{"shaken", "auto-light.png", " --linear-light"}}) {
    SCOPED_TRACE(c.gimp);
    const std::string cli = session->host_path(std::string("cli-") + c.gimp);
    const std::string command = std::string(OSTRIVO_CLI_PATH) + " -q --force --auto" + c.options +
                                " '" + session->host_path(std::string(c.input) + ".png") +
                                "' -o '" + cli + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(differences(output(c.gimp), load(cli)), "");
  }
  EXPECT_NE(differences(output("auto-light.png"), output("auto-kernel.png")), "");
}
#endif

TEST_F(Gimp3Batch, SeveralLayersAnIndexedImageOrALayerGroupAreRefused) {
  EXPECT_EQ(session->result("two-layers"),
            "calling-error Ostrivo repairs one layer at a time: select a single layer.");
  EXPECT_EQ(differences(load(session->host_path("two-layers.png")), input("rgb.png")), "");
  EXPECT_EQ(session->result("indexed"), "calling-error");
  EXPECT_EQ(session->result("group"),
            "calling-error Ostrivo: a layer group has no pixels of its own to repair: select a "
            "layer in it.");
}

TEST(Gimp3Memory, AreaTooLargeForMemoryIsAnExecutionErrorAndNothingChanges) {
  // A 100-megapixel layer in a GIMP whose processes may hold 2.5 GB each:
  // the plug-in's working memory for it (about 2.5 GB) cannot be had.
  Gimp3Session session;
  ASSERT_TRUE(session.create(kSetupTimeoutSeconds)) << session.log;
  const std::string job = R"PY(
image = Gimp.Image.new(10000, 10000, Gimp.ImageBaseType.RGB)
layer = Gimp.Layer.new(image, 'l', 10000, 10000, Gimp.ImageType.RGB_IMAGE, 100,
                       Gimp.LayerMode.NORMAL)
image.insert_layer(layer, None, 0)
color = Gegl.Color.new('rgb(0.8, 0.4, 0.2)')
Gimp.context_set_foreground(color)
layer.fill(Gimp.FillType.FOREGROUND)
image.clean_all()
status, message = run(image, length=10.0)
result('status', f'{status} {message}')
result('dirty', image.is_dirty())
)PY";
  ASSERT_TRUE(session.run(job, kGimpTimeoutSeconds, false, "", 2500000)) << session.log;
  const std::string status = session.result("status");
  EXPECT_EQ(status.rfind("execution-error Ostrivo: the area to repair is too large for this "
                         "machine's memory (",
                         0),
            0u)
      << session.log;
  EXPECT_NE(status.find("; select a smaller part of the image."), std::string::npos) << status;
  EXPECT_EQ(session.result("dirty"), "False");
  EXPECT_EQ(session.plug_in_complaints(), "");
  if (!::testing::Test::HasFailure()) session.remove();
}

#ifdef OSTRIVO_PLUGIN_PATH
TEST_F(Gimp3Batch, ClassicBytesAreTheGimp210PlugInsBytes) {
  // The same image and settings through the GIMP 2.10 plug-in, in GIMP 2.10.
  ostrivo::testing::GimpSession gimp2;
  ASSERT_TRUE(gimp2.create(OSTRIVO_PLUGIN_PATH));
  std::string error;
  ASSERT_TRUE(cli::save_image(input("rgb.png"), gimp2.path("rgb.png"), &error)) << error;
  unsigned char raw[sizeof(BlurVals)];
  std::memcpy(raw, &kClassic, sizeof raw);
  std::string record = "#(";
  for (unsigned char b : raw) record += std::to_string(b) + " ";
  record.back() = ')';
  const std::string script =
      "(let* ((img (car (gimp-file-load RUN-NONINTERACTIVE \"rgb.png\" \"rgb.png\")))\n"
      "       (drw (car (gimp-image-get-active-drawable img))))\n"
      "  (gimp-procedural-db-set-data \"plug-in-ostrivo\" 40 " +
      record +
      ")\n"
      "  (plug-in-ostrivo RUN-WITH-LAST-VALS img drw)\n"
      "  (file-png-save2 RUN-NONINTERACTIVE img drw \"out.png\" \"out.png\" 0 9 0 0 0 0 0 0 1))\n"
      "(gimp-quit 0)\n";
  ASSERT_TRUE(gimp2.run_batch(script, kGimpTimeoutSeconds)) << gimp2.log;
  EXPECT_EQ(differences(output("classic-rgb.png"), load(gimp2.path("out.png"))), "");
  std::system(("rm -rf '" + gimp2.dir + "'").c_str());
}
#endif
