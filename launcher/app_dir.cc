#include "launcher/app_dir.h"

#include "launcher/fatal.h"
#include "launcher/sys.h"

namespace vorlane {

std::string runtime_dir(std::string_view app_dir) {
  while (app_dir.ends_with('/')) app_dir.remove_suffix(1);
  return std::string(app_dir.substr(0, app_dir.rfind('/') + 1)) + "runtime";
}

std::string app_dir_candidate(std::string_view exe_path) {
  const std::size_t slash = exe_path.rfind('/');
  std::string candidate(slash == std::string_view::npos ? "." : exe_path.substr(0, slash));
  candidate += "/../lib/app/";
  return candidate;
}

std::string resolve_app_dir() {
  // The kernel's link names the executable file itself, links resolved, so
  // the result does not depend on how the program was started.
  sys::SysResult<std::string> exe = sys::read_link("/proc/self/exe", kExePathBufferSize);
  if (!exe.ok()) fail_system_call("readlink", exe.error);
  if (exe.value.size() == kExePathBufferSize) bail("%s", kExePathTooLong);
  std::string candidate = app_dir_candidate(exe.value);
  sys::SysResult<std::string> canonical = sys::real_path(candidate);
  // A tree without lib/app still starts: the options then name the
  // candidate path, and whatever is missing shows up when Java looks.
  return canonical.ok() ? std::move(canonical.value) : candidate;
}

}  // namespace vorlane
