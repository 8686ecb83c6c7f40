# shellcheck over the maintainer script templates as they are written: each
# must be valid sh before its placeholders are filled (a placeholder stands
# where a quoted word or a command goes). Skipped, and shown so, when
# shellcheck is not installed (scripts/install-deps installs it).
file(GLOB _script_templates CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/templates/*.sh)
add_test(NAME PackageTemplates.Shellcheck
  COMMAND sh -c "command -v shellcheck >/dev/null || { echo 'shellcheck is not installed: the script templates go unchecked'; exit 77; }; exec shellcheck --shell=sh \"$@\"" shellcheck ${_script_templates})
set_tests_properties(PackageTemplates.Shellcheck PROPERTIES LABELS unit SKIP_RETURN_CODE 77)
