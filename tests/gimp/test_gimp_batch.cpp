// The plug-in in the real GIMP 2.10, driven by one batch Script-Fu session:
// registration, run modes, stored records, RGB and RGBA layers, odd and
// one-pixel selections, and drawables it must refuse. Every repaired image
// is compared byte for byte with the engine's own output on the same pixels.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>

#include "gimp/gimp_session.h"
#include "image_file.h"
#include "image_support.h"

using namespace ostrivo;
using ostrivo::cli::Image;
using ostrivo::testing::differences;
using ostrivo::testing::engine_repair;
using ostrivo::testing::GimpSession;
using ostrivo::testing::load;
using ostrivo::testing::make_image;

namespace {

constexpr int kGimpTimeoutSeconds = 300;

// The record a script stores, as a Script-Fu byte vector.
std::string record_bytes(const BlurVals &v) {
  unsigned char raw[sizeof(BlurVals)];
  std::memcpy(raw, &v, sizeof raw);
  std::string out = "#(";
  for (unsigned char b : raw) out += std::to_string(b) + " ";
  out.back() = ')';
  return out;
}

constexpr BlurVals kStored{10.0, 30.0, 0.001, 2.0, 1, 0};
const double kNan = std::nan("");
// Nothing in it is usable as it stands: every field is clamped or defaulted.
const BlurVals kBadRecord{kNan, 1e300, 0.0, -5.0, 7, 3};

class GimpBatch : public ::testing::Test {
 protected:
  static GimpSession *session;
  static bool ran;

  static void SetUpTestSuite() {
    session = new GimpSession;
    ASSERT_TRUE(session->create(OSTRIVO_PLUGIN_PATH));
    std::string error;
    ASSERT_TRUE(cli::save_image(make_image(160, 240, 3, 1), session->path("rgb.png"), &error));
    ASSERT_TRUE(cli::save_image(make_image(90, 120, 4, 2), session->path("rgba.png"), &error));
    ran = session->run_batch(script(), kGimpTimeoutSeconds);
  }
  static void TearDownTestSuite() {
    const auto *suite = ::testing::UnitTest::GetInstance()->current_test_suite();
    if (suite->failed_test_count() == 0 && std::getenv("OSTRIVO_KEEP_GIMP_FILES") == nullptr)
      std::system(("rm -rf '" + session->dir + "'").c_str());
    else
      std::printf("GIMP session files kept in %s\n", session->dir.c_str());
    delete session;
  }

  void SetUp() override { ASSERT_TRUE(ran) << session->log; }

  static std::string script() {
    std::ostringstream s;
    s << R"SCM(
(define (load-image name) (car (gimp-file-load RUN-NONINTERACTIVE name name)))
(define (layer img) (car (gimp-image-get-active-drawable img)))
(define (save img name)
  (file-png-save2 RUN-NONINTERACTIVE img (layer img) name name 0 9 0 0 0 0 0 0 1))
(define (result key value)
  (display "RESULT ") (display key) (display " ") (write value) (newline))
(define (stored) (catch "none" (gimp-procedural-db-get-data "plug-in-ostrivo")))
(define (repair-file mode in out)
  (let* ((img (load-image in)))
    (plug-in-ostrivo mode img (layer img))
    (save img out)
    (gimp-image-delete img)))

(result "info" (gimp-procedural-db-proc-info "plug-in-ostrivo"))
(result "arg0" (gimp-procedural-db-proc-arg "plug-in-ostrivo" 0))
(result "arg1" (gimp-procedural-db-proc-arg "plug-in-ostrivo" 1))
(result "arg2" (gimp-procedural-db-proc-arg "plug-in-ostrivo" 2))
(result "menu" (gimp-plugins-query "Ostrivo"))

(repair-file RUN-NONINTERACTIVE "rgb.png" "nonint-fresh.png")
(result "stored-after-nonint" (stored))
(repair-file RUN-WITH-LAST-VALS "rgb.png" "last-fresh.png")

)SCM";
    s << "(gimp-procedural-db-set-data \"plug-in-ostrivo\" 40 " << record_bytes(kStored) << ")\n";
    s << R"SCM(
(repair-file RUN-NONINTERACTIVE "rgb.png" "nonint-after-store.png")
(repair-file RUN-WITH-LAST-VALS "rgb.png" "last-rgb.png")
(repair-file RUN-WITH-LAST-VALS "rgba.png" "last-rgba.png")
(repair-file 7 "rgb.png" "mode7.png")
(result "stored-after-last" (stored))

(let* ((img (load-image "rgb.png")))
  (gimp-image-select-rectangle img CHANNEL-OP-REPLACE 13 17 201 101)
  (plug-in-ostrivo RUN-WITH-LAST-VALS img (layer img))
  (gimp-selection-none img)
  (save img "odd-box.png")
  (gimp-image-delete img))
(let* ((img (load-image "rgb.png")))
  (gimp-image-select-rectangle img CHANNEL-OP-REPLACE 40 30 1 50)
  (plug-in-ostrivo RUN-WITH-LAST-VALS img (layer img))
  (gimp-image-select-rectangle img CHANNEL-OP-REPLACE 40 30 50 1)
  (plug-in-ostrivo RUN-WITH-LAST-VALS img (layer img))
  (gimp-selection-none img)
  (save img "one-pixel-boxes.png")
  (gimp-image-delete img))

)SCM";
    s << "(gimp-procedural-db-set-data \"plug-in-ostrivo\" 40 " << record_bytes(kBadRecord)
      << ")\n";
    s << R"SCM(
(repair-file RUN-WITH-LAST-VALS "rgb.png" "bad-record.png")
(gimp-procedural-db-set-data "plug-in-ostrivo" 24 #(0 0 0 0 0 0 36 64 0 0 0 0 0 0 62 64 0 0 0 0 0 0 0 0))
(repair-file RUN-WITH-LAST-VALS "rgb.png" "short-record.png")

(define gray (load-image "rgb.png"))
(gimp-image-convert-grayscale gray)
(save gray "gray-before.png")
(result "gray-status" (catch "refused" (plug-in-ostrivo RUN-NONINTERACTIVE gray (layer gray)) "ran"))
(plug-in-ostrivo RUN-NONINTERACTIVE gray (layer gray))
(save gray "gray-after.png")

(define indexed (load-image "rgb.png"))
(gimp-image-convert-indexed indexed CONVERT-DITHER-NONE CONVERT-PALETTE-GENERATE 64 FALSE FALSE "")
(result "indexed-status" (catch "refused" (plug-in-ostrivo RUN-NONINTERACTIVE indexed (layer indexed)) "ran"))

(define rgb (load-image "rgb.png"))
(define rgb-layer (layer rgb))
(define channel (car (gimp-channel-new rgb 240 160 "c" 50 '(255 0 0))))
(gimp-image-insert-channel rgb channel 0 0)
(result "channel-status" (catch "refused" (plug-in-ostrivo RUN-NONINTERACTIVE rgb channel) "ran"))
(define mask (car (gimp-layer-create-mask rgb-layer ADD-MASK-WHITE)))
(gimp-layer-add-mask rgb-layer mask)
(result "mask-status" (catch "refused" (plug-in-ostrivo RUN-NONINTERACTIVE rgb mask) "ran"))
(result "invalid-status" (catch "refused" (plug-in-ostrivo RUN-NONINTERACTIVE rgb -1) "ran"))
(gimp-layer-remove-mask rgb-layer MASK-DISCARD)
(file-png-save2 RUN-NONINTERACTIVE rgb rgb-layer "refusals-after.png" "refusals-after.png" 0 9 0 0 0 0 0 0 1)
(result "done" "yes")
(gimp-quit 0)
)SCM";
    return s.str();
  }

  static Image input_rgb() { return load(session->path("rgb.png")); }
};

GimpSession *GimpBatch::session = nullptr;
bool GimpBatch::ran = false;

}  // namespace

TEST_F(GimpBatch, ProcedureIsRegisteredWithItsParametersAndMenuPath) {
  EXPECT_EQ(session->result("info"),
            R"(("Ostrivo" "Repairs motion blurred images" "The Ostrivo developers" )"
            R"("Copyright The Ostrivo developers" "2010" 1 3 0))");
  EXPECT_EQ(session->result("arg0"), R"((0 "run-mode" "Run mode"))");
  EXPECT_EQ(session->result("arg1"), R"((13 "image" "Input image"))");
  EXPECT_EQ(session->result("arg2"), R"((16 "drawable" "Input drawable"))");
  const std::string menu = session->result("menu");
  EXPECT_NE(menu.find("(\"<Image>/Filters/Ostrivo\")"), std::string::npos) << menu;
  EXPECT_NE(menu.find("(\"RGB*\")"), std::string::npos) << menu;
  EXPECT_NE(menu.find("(\"plug-in-ostrivo\")"), std::string::npos) << menu;
}

TEST_F(GimpBatch, NonInteractiveRunsUseTheDefaultsAndStoreNothing) {
  const Image in = input_rgb();
  const Image defaults = engine_repair(in, 0, 0, 240, 160, kDefaultBlurVals);
  EXPECT_EQ(differences(load(session->path("nonint-fresh.png")), defaults), "");
  EXPECT_EQ(session->result("stored-after-nonint"), "\"none\"");
  // A stored record does not change a non-interactive run, nor one of an
  // unknown run mode.
  EXPECT_EQ(differences(load(session->path("nonint-after-store.png")), defaults), "");
  EXPECT_EQ(differences(load(session->path("mode7.png")), defaults), "");
  // Length 1 is no motion at all: the defaults leave the picture as it was.
  EXPECT_EQ(differences(defaults, in), "");
}

TEST_F(GimpBatch, LastValuesRunWithoutAStoredRecordUsesTheDefaults) {
  const Image in = input_rgb();
  EXPECT_EQ(differences(load(session->path("last-fresh.png")),
                        engine_repair(in, 0, 0, 240, 160, kDefaultBlurVals)),
            "");
}

TEST_F(GimpBatch, LastValuesRunRepairsExactlyAsTheEngineOnRgbAndRgba) {
  const Image rgb = input_rgb();
  const Image got = load(session->path("last-rgb.png"));
  EXPECT_EQ(differences(got, engine_repair(rgb, 0, 0, 240, 160, kStored)), "");
  EXPECT_NE(differences(got, rgb), "");  // and it did change the picture

  const Image rgba = load(session->path("rgba.png"));
  ASSERT_EQ(rgba.bpp, 4);
  EXPECT_EQ(differences(load(session->path("last-rgba.png")),
                        engine_repair(rgba, 0, 0, 120, 90, kStored)),
            "");
}

TEST_F(GimpBatch, LastValuesRunDoesNotRewriteTheStoredRecord) {
  EXPECT_EQ(session->result("stored-after-last"), "(40 " + record_bytes(kStored) + ")");
}

TEST_F(GimpBatch, OddSelectionRepairsTheEvenRectangleAndKeepsTheRest) {
  // A 201 x 101 box at (13, 17): the 200 x 100 rectangle at its corner is
  // repaired; its last column and row, and everything outside, stay.
  const Image in = input_rgb();
  EXPECT_EQ(
      differences(load(session->path("odd-box.png")), engine_repair(in, 13, 17, 200, 100, kStored)),
      "");
}

TEST_F(GimpBatch, OnePixelWideOrHighSelectionsChangeNothing) {
  EXPECT_EQ(differences(load(session->path("one-pixel-boxes.png")), input_rgb()), "");
}

TEST_F(GimpBatch, StoredRecordsAreBroughtIntoRange) {
  BlurVals sanitized = kBadRecord;
  sanitize_blurvals(&sanitized);
  EXPECT_EQ(sanitized.length, kDefaultBlurVals.length);
  EXPECT_EQ(sanitized.direction, kDirectionRange.upper);
  const Image in = input_rgb();
  EXPECT_EQ(differences(load(session->path("bad-record.png")),
                        engine_repair(in, 0, 0, 240, 160, sanitized)),
            "");
  // A record of the wrong size is not used at all.
  EXPECT_EQ(differences(load(session->path("short-record.png")),
                        engine_repair(in, 0, 0, 240, 160, kDefaultBlurVals)),
            "");
}

TEST_F(GimpBatch, DrawablesThatAreNotRgbAreRefusedAndLeftAlone) {
  for (const char *key :
       {"gray-status", "indexed-status", "channel-status", "mask-status", "invalid-status"})
    EXPECT_EQ(session->result(key), "\"refused\"") << key;
  EXPECT_NE(session->log.find("plug-in-ostrivo failed on invalid input arguments: Ostrivo "
                              "repairs RGB and RGBA layers only"),
            std::string::npos)
      << session->log;
  EXPECT_EQ(
      differences(load(session->path("gray-after.png")), load(session->path("gray-before.png"))),
      "");
  EXPECT_EQ(differences(load(session->path("refusals-after.png")), input_rgb()), "");
  EXPECT_EQ(session->result("done"), "\"yes\"");
}

TEST(GimpMemory, RegionTooLargeForMemoryIsRefusedAndNothingChanges) {
  // A 100-megapixel layer in a GIMP whose processes may hold 2.5 GB each:
  // the plug-in's working memory for it (about 3 GB) cannot be had.
  GimpSession session;
  ASSERT_TRUE(session.create(OSTRIVO_PLUGIN_PATH));
  const std::string script = R"SCM(
(define (result key value) (display "RESULT ") (display key) (display " ") (write value) (newline))
(define img (car (gimp-image-new 10000 10000 RGB)))
(define drw (car (gimp-layer-new img 10000 10000 RGB-IMAGE "l" 100 LAYER-MODE-NORMAL)))
(gimp-image-insert-layer img drw 0 0)
(gimp-context-set-foreground '(200 100 50))
(gimp-drawable-fill drw FILL-FOREGROUND)
(gimp-image-clean-all img)
)SCM" + std::string("(gimp-procedural-db-set-data \"plug-in-ostrivo\" 40 ") +
                             record_bytes(kStored) + ")\n" + R"SCM(
(result "status" (catch "refused" (plug-in-ostrivo RUN-WITH-LAST-VALS img drw) "ran"))
(plug-in-ostrivo RUN-WITH-LAST-VALS img drw)
(result "dirty" (car (gimp-image-is-dirty img)))
(result "pixel" (gimp-drawable-get-pixel drw 5000 5000))
(gimp-image-delete img)
(gimp-quit 0)
)SCM";
  ASSERT_TRUE(session.run_batch(script, kGimpTimeoutSeconds, 2500000)) << session.log;
  EXPECT_EQ(session.result("status"), "\"refused\"") << session.log;
  EXPECT_NE(session.log.find("Procedure execution of plug-in-ostrivo failed: Ostrivo: the area to "
                             "repair is too large"),
            std::string::npos)
      << session.log;
  EXPECT_EQ(session.result("dirty"), "0");
  EXPECT_EQ(session.result("pixel"), "(3 #(200 100 50))");
  std::system(("rm -rf '" + session.dir + "'").c_str());
}
