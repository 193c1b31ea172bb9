#pragma once
// The help texts of scrtool and its commands.
#include <string>
#include <string_view>

namespace scrtool {

// The texts that name the orders blockeig reads are built from its limits.
extern const std::string main_help;
extern const std::string import_help;
extern const std::string_view export_help;
extern const std::string_view info_help;
extern const std::string gen_help;
extern const std::string_view plot_help;
extern const std::string_view compare_help;
extern const std::string_view study_help;

}  // namespace scrtool
