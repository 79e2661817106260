// Running Python jobs in the real GIMP 3.0 of the Debian 13 chroot that
// scripts/gimp3-chroot.sh keeps, with the GIMP 3 plug-in built there from
// this tree and installed in a throw-away profile.
#ifndef OSTRIVO_TESTS_GIMP3_SESSION_H
#define OSTRIVO_TESTS_GIMP3_SESSION_H

#include <string>

namespace ostrivo::testing {

// What every job starts with: D, the session's folder (with a slash);
// proc, the procedure; result(key, value), a "RESULT key value" line;
// load(name) and save(image, name), an image of the folder (saved as PNG
// with the colour of transparent pixels kept: alpha is repaired like a
// colour channel); and run(image, mode, **arguments), the procedure's
// status and message.
extern const char *const kGimp3JobPrelude;

struct Gimp3Session {
  std::string host_dir;  // the session's folder, as this machine sees it
  std::string dir;       // the same folder inside the chroot
  std::string log;       // everything the last run printed

  // Makes the chroot if need be, builds the plug-in inside it and makes the
  // session's folder with a profile holding the plug-in.
  bool create(int timeout_s);
  // Runs the Python `job` (after kGimp3JobPrelude) in one batch gimp-console-3.0 (or, with
  // `display`, in the full gimp-3.0 on a virtual display, with `helper`, a
  // shell script, run beside it); false when GIMP could not be run or did
  // not end within `timeout_s`. A non-zero `memory_kib` caps the address
  // space of GIMP and of every plug-in it starts.
  bool run(const std::string &job, int timeout_s, bool display = false,
           const std::string &helper = "", long memory_kib = 0);
  // Value of the first "RESULT key value" line the job printed, or
  // "<missing>".
  std::string result(const std::string &key) const;
  // A file of the session: its path here, and inside the chroot.
  std::string host_path(const std::string &name) const { return host_dir + "/" + name; }
  std::string path(const std::string &name) const { return dir + "/" + name; }
  // Lines in which the plug-in warned or complained (GLib warnings and
  // criticals), but for the pipe it finds closed when GIMP quits.
  std::string plug_in_complaints() const;
  // Removes the session's folder.
  void remove() const;
};

}  // namespace ostrivo::testing

#endif
