// The GIMP 3 plug-in's dialog in the real GIMP 3.0 on a virtual display,
// driven with the keyboard as a person would: it opens (screenshot kept),
// Cancel leaves the image as it was, Estimate fills the motion in, changed
// settings redraw the preview, OK repairs as the engine does, a run with
// last values repeats it, and on a curved shake Estimate shows the kernel it
// finds and OK repairs with it.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "gimp3/gimp3_session.h"
#include "image_file.h"
#include "image_support.h"
#include "ostrivo/estimate.h"

using namespace ostrivo;
using ostrivo::cli::Image;
using ostrivo::testing::differences;
using ostrivo::testing::Gimp3Session;
using ostrivo::testing::job_result;
using ostrivo::testing::kernel_result;
using ostrivo::testing::load;
using ostrivo::testing::shake_kernel_image;
using ostrivo::testing::smooth_result;

namespace {

constexpr int kSetupTimeoutSeconds = 900;
constexpr int kGimpTimeoutSeconds = 600;

const char *kJob = R"PY(
image = load('in.png')
result('cancel', run(image, Gimp.RunMode.INTERACTIVE)[0])
save(image, 'after-cancel.png')
result('ok', run(image, Gimp.RunMode.INTERACTIVE)[0])
save(image, 'after-ok.png')
image.delete()
image = load('in.png')
result('last', run(image, Gimp.RunMode.WITH_LAST_VALS)[0])
save(image, 'last.png')
image.delete()
image = load('shaken.png')
result('kernel', run(image, Gimp.RunMode.INTERACTIVE)[0])
save(image, 'after-kernel.png')
result('done', 'yes')
)PY";

// Drives the dialogs: runs beside GIMP on the same display, inside the
// chroot. Prints "CHECK name yes|no" lines.
const char *kHelper = R"SH(
cd @DIR@
window=
wait_dialog() {
  for _ in $(seq 600); do
    window=$(xdotool search --onlyvisible --name '^Ostrivo$' 2> /dev/null | head -1)
    [ -n "$window" ] && { sleep 2; return 0; }
    sleep 0.2
  done
  echo "CHECK dialog-opened no"; exit 1
}
wait_closed() {
  for _ in $(seq 300); do
    xdotool search --onlyvisible --name '^Ostrivo$' 2> /dev/null | grep -qx "$window" || return 0
    sleep 0.2
  done
}
shot() { import -window "$window" "$1"; }
# The preview: the dialog's upper part, above the settings.
preview() { convert "$1" -gravity north -crop 60%x35%+0+40 +repage "$2"; }
differ() { [ "$(compare -metric AE "$1" "$2" null: 2>&1)" != "0" ]; }
key() { xdotool windowfocus --sync "$window" 2> /dev/null; xdotool key "$@"; sleep 0.4; }
set_value() {  # set_value MNEMONIC VALUE
  key "alt+$1"; key ctrl+a; xdotool type "$2"; key Tab
}
check() { if "${@:2}"; then echo "CHECK $1 yes"; else echo "CHECK $1 no"; fi; }
# after_change BEFORE SHOT: waits (up to three minutes: the estimate takes
# seconds, more on a busy machine) until the dialog looks other than BEFORE,
# lets it settle, and keeps it as SHOT.
after_change() {
  for _ in $(seq 180); do
    shot "$2"
    differ "$1" "$2" && { sleep 2; shot "$2"; return 0; }
    sleep 1
  done
}

wait_dialog
shot dialog.png
echo "CHECK dialog-opened yes"
key Escape
wait_closed

wait_dialog
shot before.png
key alt+e
after_change before.png estimated.png
check estimate-changes-settings differ before.png estimated.png
set_value g 10
set_value d 30
set_value k 0.001
sleep 3
shot edited.png
preview estimated.png preview-before.png
preview edited.png preview-after.png
check preview-redrawn differ preview-before.png preview-after.png
key alt+o
wait_closed

# A curved shake: Estimate finds its kernel, shows it and switches to it.
wait_dialog
shot kernel-before.png
key alt+e
after_change kernel-before.png kernel-found.png
check kernel-shown differ kernel-before.png kernel-found.png
key alt+o
wait_closed
)SH";

}  // namespace

TEST(Gimp3Dialog, OpensCancelsEstimatesRedrawsRepairsAndRemembers) {
  Gimp3Session session;
  ASSERT_TRUE(session.create(kSetupTimeoutSeconds)) << session.log;
  const Image in = load(OSTRIVO_SOURCE_DIR "/data/coffee-blurred.png");
  std::string error;
  ASSERT_TRUE(cli::save_image(in, session.host_path("in.png"), &error)) << error;
  const Image shaken =
      kernel_result(load(OSTRIVO_SOURCE_DIR "/data/coffee.png"), shake_kernel_image(25), true);
  ASSERT_TRUE(cli::save_image(shaken, session.host_path("shaken.png"), &error)) << error;
  std::string helper = kHelper;
  helper.replace(helper.find("@DIR@"), 5, session.dir);
  ASSERT_TRUE(session.run(kJob, kGimpTimeoutSeconds, true, helper)) << session.log;

  // Screenshots for a person to look at.
  const std::string artifacts = OSTRIVO_ARTIFACT_DIR;
  std::system(("mkdir -p '" + artifacts + "' && cp '" + session.host_path("dialog.png") + "' '" +
               artifacts + "/gimp3-dialog.png' && cp '" + session.host_path("edited.png") + "' '" +
               artifacts + "/gimp3-dialog-edited.png' && cp '" +
               session.host_path("kernel-found.png") + "' '" + artifacts +
               "/gimp3-dialog-kernel.png'")
                  .c_str());

  for (const char *check :
       {"dialog-opened", "estimate-changes-settings", "preview-redrawn", "kernel-shown"})
    EXPECT_NE(session.log.find(std::string("CHECK ") + check + " yes"), std::string::npos)
        << check << "\n"
        << session.log;
  EXPECT_EQ(session.plug_in_complaints(), "");
  EXPECT_EQ(session.result("cancel"), "cancel");
  EXPECT_EQ(differences(load(session.host_path("after-cancel.png")), in), "");

  EXPECT_EQ(session.result("ok"), "success") << session.log;
  const Image expected = smooth_result(in, 10, 30);  // K 0.001
  EXPECT_EQ(differences(load(session.host_path("after-ok.png")), expected), "");
  EXPECT_EQ(session.result("last"), "success");
  EXPECT_EQ(differences(load(session.host_path("last.png")), expected), "");

  // Estimate found the kernel, and OK repaired with it as the engine does,
  // the noise measured once on the whole layer.
  const PixelRegion area{shaken.rows,      shaken.cols,   shaken.bpp,
                         SampleFormat::u8, shaken.data(), nullptr};
  const MotionEstimate found = estimate_shake(area);
  ASSERT_EQ(found.found, FoundMotion::kernel);
  RepairSettings s;
  s.solver = SolverKind::sparse;
  ASSERT_TRUE(apply_estimate(found, &s));
  s.noise = measure_noise(area);
  EXPECT_EQ(session.result("kernel"), "success") << session.log;
  EXPECT_EQ(differences(load(session.host_path("after-kernel.png")), job_result(shaken, s)), "");
  if (!::testing::Test::HasFailure()) session.remove();
}
