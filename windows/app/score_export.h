// The score table's two exports, an HTML table and a plain text list, and
// how the score editor picks a format from the name it saves under.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "game/uhiscore.h"
#include "replace_file.h"

namespace zt::win {

// The file bytes: CR LF line ends; the HTML texts in Shift-JIS; names as
// stored, nothing escaped.
std::string export_html_bytes(const THiScore& table);
std::string export_text_bytes(const THiScore& table);

// The extension from the last "." after the last path delimiter, with the
// dot; empty when there is none.
std::wstring extract_file_ext(std::wstring_view path);
// The path with its extension replaced by ext (or ext appended).
std::wstring change_file_ext(std::wstring_view path, std::wstring_view ext);

enum class SaveFormat { kScoreFile, kHtml, kText };
// ".html" or ".htm" and ".txt", compared with their letter case.
SaveFormat save_format_for(std::wstring_view path);

// THiScore.ExportHtml and THiScore.ExportText: the table written beside
// score_file_name with ".html" or ".txt" for its extension.
std::optional<WriteError> ExportHtml(const THiScore& table, std::wstring_view score_file_name);
std::optional<WriteError> ExportText(const THiScore& table, std::wstring_view score_file_name);

}  // namespace zt::win
