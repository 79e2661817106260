#include "gimp3/gimp3_session.h"

#include <glib.h>
#include <glib/gstdio.h>

#include <fstream>
#include <sstream>

#include "gimp/gimp_session.h"

namespace ostrivo::testing {

const char *const kGimp3JobPrelude = R"PY(
from gi.repository import Gimp, Gio, Gegl
pdb = Gimp.get_pdb()
proc = pdb.lookup_procedure('plug-in-ostrivo')

def result(key, value):
    print(f'RESULT {key} {value}', flush=True)

def load(name):
    return Gimp.file_load(Gimp.RunMode.NONINTERACTIVE, Gio.File.new_for_path(D + name))

def save(image, name):
    export = pdb.lookup_procedure('file-png-export')
    config = export.create_config()
    config.set_property('run-mode', Gimp.RunMode.NONINTERACTIVE)
    config.set_property('image', image)
    config.set_property('file', Gio.File.new_for_path(D + name))
    config.set_property('save-transparent', True)
    export.run(config)

def run(image, mode=Gimp.RunMode.NONINTERACTIVE, drawables=None, **arguments):
    config = proc.create_config()
    config.set_property('run-mode', mode)
    config.set_property('image', image)
    config.set_core_object_array('drawables', drawables or [image.get_layers()[0]])
    for name, value in arguments.items():
        config.set_property(name.replace('_', '-'), value)
    values = proc.run(config)
    return values.index(0).value_nick, values.index(1) if values.length() > 1 else ''
)PY";

namespace {

const std::string kChroot = OSTRIVO_SOURCE_DIR "/scripts/gimp3-chroot.sh";

// Runs `commands` inside the chroot, its output appended to `log_file`.
int inside(const std::string &commands, const std::string &log_file, int timeout_s) {
  const std::string quoted = "'" + commands + "'";
  const std::string command = "timeout " + std::to_string(timeout_s) + " bash " + kChroot +
                              " run " + quoted + " >> '" + log_file + "' 2>&1";
  return std::system(command.c_str());
}

std::string read_file(const std::string &path) {
  std::ifstream in(path);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

}  // namespace

bool Gimp3Session::create(int timeout_s) {
  gchar *root_out = nullptr;
  if (!g_spawn_command_line_sync(("bash " + kChroot + " path").c_str(), &root_out, nullptr, nullptr,
                                 nullptr))
    return false;
  std::string root = root_out;
  g_free(root_out);
  while (!root.empty() && root.back() == '\n') root.pop_back();
  if (g_mkdir_with_parents((root + "/work").c_str(), 0755) != 0) return false;
  gchar *made = g_dir_make_tmp(nullptr, nullptr);  // a unique name, then moved under /work
  if (made == nullptr) return false;
  gchar *name = g_path_get_basename(made);
  g_rmdir(made);
  g_free(made);
  dir = std::string("/work/session-") + name;
  host_dir = root + dir;
  g_free(name);
  if (g_mkdir_with_parents(host_dir.c_str(), 0755) != 0) return false;

  // The whole tree's build in the chroot (see the trixie.tree test), one
  // per source tree, reused by later sessions.
  const std::string build = OSTRIVO_TRIXIE_BUILD;
  const std::string setup = "set -e; bash /src/scripts/trixie-build.sh " + build +
                            " ostrivo-gimp3; mkdir -p " + dir +
                            "/profile/plug-ins/ostrivo; install -m755 " + build +
                            "/gimp3/ostrivo " + dir + "/profile/plug-ins/ostrivo/ostrivo";
  const int status = inside(setup, host_path("setup.log"), timeout_s);
  log = read_file(host_path("setup.log"));
  return status == 0;
}

bool Gimp3Session::run(const std::string &job, int timeout_s, bool display,
                       const std::string &helper, long memory_kib) {
  std::ofstream(host_path("job.py")) << "D = '" << dir << "/'\n" << kGimp3JobPrelude << job;
  const std::string gimp = "--batch-interpreter python-fu-eval -b 'exec(open(\"" + path("job.py") +
                           "\").read())' --quit";
  std::ofstream script(host_path("run.sh"));
  script << "cd " << dir << "\nexport GIMP3_DIRECTORY=" << path("profile") << "\n";
  if (memory_kib > 0) script << "ulimit -v " << memory_kib << "\n";
  if (display) {
    std::ofstream(host_path("helper.sh")) << helper;
    std::ofstream(host_path("display.sh"))
        << "bash " << path("helper.sh") << " > " << path("helper.log") << " 2>&1 &\n"
        << "gimp-3.0 --no-splash " << gimp << "\nwait\n";
    script << "xvfb-run -a -s \"-screen 0 1280x1024x24\" bash " << path("display.sh") << "\n";
  } else {
    script << "gimp-console-3.0 -i -d -f " << gimp << "\n";
  }
  script.close();
  std::remove(host_path("gimp.log").c_str());
  const int status = inside("bash " + path("run.sh"), host_path("gimp.log"), timeout_s);
  log = read_file(host_path("gimp.log"));
  if (display) log += read_file(host_path("helper.log"));
  return status == 0;
}

std::string Gimp3Session::result(const std::string &key) const { return result_in(log, key); }

std::string Gimp3Session::plug_in_complaints() const {
  std::istringstream lines(log);
  std::string line, found;
  while (std::getline(lines, line))
    if (line.find("(ostrivo:") != std::string::npos &&
        (line.find("CRITICAL") != std::string::npos || line.find("WARNING") != std::string::npos) &&
        line.find("Broken pipe") == std::string::npos)
      found += line + "\n";
  return found;
}

void Gimp3Session::remove() const {
  if (!host_dir.empty()) std::system(("rm -rf '" + host_dir + "'").c_str());
}

}  // namespace ostrivo::testing
