#pragma once
// The help texts of scrtool and its commands.
#include <string_view>

namespace scrtool {

extern const std::string_view main_help;
extern const std::string_view import_help;
extern const std::string_view export_help;
extern const std::string_view info_help;
extern const std::string_view gen_help;
extern const std::string_view plot_help;
extern const std::string_view compare_help;
extern const std::string_view study_help;

}  // namespace scrtool
