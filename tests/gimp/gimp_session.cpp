#include "gimp/gimp_session.h"

#include <glib.h>
#include <glib/gstdio.h>

#include <fstream>
#include <sstream>

namespace ostrivo::testing {

bool GimpSession::create(const std::string &plugin) {
  gchar *made = g_dir_make_tmp("ostrivo-gimp-XXXXXX", nullptr);
  if (made == nullptr) return false;
  dir = made;
  g_free(made);
  profile = dir + "/profile";
  // GIMP wants each plug-in in a folder of its own name; the data folders
  // keep it from complaining at exit.
  for (const char *sub :
       {"plug-ins/ostrivo", "gradients", "brushes", "patterns", "palettes", "fonts"})
    if (g_mkdir_with_parents((profile + "/" + sub).c_str(), 0755) != 0) return false;
  const std::string target = profile + "/plug-ins/ostrivo/ostrivo";
  std::ifstream src(plugin, std::ios::binary);
  std::ofstream dst(target, std::ios::binary);
  dst << src.rdbuf();
  dst.close();
  return src.good() && dst.good() && g_chmod(target.c_str(), 0755) == 0;
}

bool GimpSession::run_batch(const std::string &script, int timeout_s, long memory_kib) {
  const std::string script_path = path("job.scm");
  std::ofstream(script_path) << script;
  const std::string limit =
      memory_kib > 0 ? "ulimit -v " + std::to_string(memory_kib) + " && " : std::string();
  const std::string command = "cd '" + dir + "' && " + limit + "GIMP2_DIRECTORY='" + profile +
                              "' timeout " + std::to_string(timeout_s) +
                              " gimp -i -d -f --batch-interpreter plug-in-script-fu-eval -b - < '" +
                              script_path + "' > '" + path("gimp.log") + "' 2>&1";
  const int status = std::system(command.c_str());
  std::ifstream in(path("gimp.log"));
  std::stringstream all;
  all << in.rdbuf();
  log = all.str();
  return status == 0;
}

std::string GimpSession::result(const std::string &key) const { return result_in(log, key); }

std::string result_in(const std::string &log, const std::string &key) {
  const std::string marker = "RESULT " + key + " ";
  const auto at = log.find(marker);
  if (at == std::string::npos) return "<missing>";
  const auto start = at + marker.size();
  return log.substr(start, log.find('\n', start) - start);
}

}  // namespace ostrivo::testing
