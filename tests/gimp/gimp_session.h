// Running scripts in the real GIMP 2.10, in a throw-away profile that holds
// only the freshly built plug-in.
#ifndef OSTRIVO_TESTS_GIMP_SESSION_H
#define OSTRIVO_TESTS_GIMP_SESSION_H

#include <string>

namespace ostrivo::testing {

// Value of the first "RESULT key value" line in `log`, or "<missing>".
std::string result_in(const std::string &log, const std::string &key);

struct GimpSession {
  std::string dir;      // temporary folder for profile, inputs and outputs
  std::string profile;  // the GIMP2_DIRECTORY the session runs with
  std::string log;      // everything GIMP and the script printed

  // Makes the folder and the profile, with the plug-in at `plugin`.
  bool create(const std::string &plugin);
  // Runs `script` (Script-Fu) in one batch GIMP; false when GIMP could not
  // be run or did not end within `timeout_s`. A non-zero `memory_kib` caps
  // the address space of GIMP and of every plug-in it starts.
  bool run_batch(const std::string &script, int timeout_s, long memory_kib = 0);
  // Value of the first "RESULT key value" line the script printed, or
  // "<missing>".
  std::string result(const std::string &key) const;
  std::string path(const std::string &name) const { return dir + "/" + name; }
};

}  // namespace ostrivo::testing

#endif
