#include "score_export.h"

#include <windows.h>

#include <cstdio>

#include "date_time.h"
#include "text_codec.h"

namespace zt::win {

namespace {

constexpr char kCrLf[] = "\r\n";

std::string sjis(std::wstring_view text) {
  return to_code_page(text, kShiftJis);
}

// Right-aligned in width columns; a longer value is written whole.
std::string right(std::string_view s, std::size_t width) {
  std::string out;
  if (s.size() < width) out.assign(width - s.size(), ' ');
  out += s;
  return out;
}

}  // namespace

std::string export_html_bytes(const THiScore& table) {
  std::string out;
  auto line = [&](std::string_view s) {
    out += s;
    out += kCrLf;
  };
  line("<table border=\"2\">");
  line("  <tr>");
  line("    <td></td>");
  line("    <td align=\"center\"><b>" + sjis(L"名前") + "</b></td>");
  line("    <td align=\"center\"><b>" + sjis(L"スコア") + "</b></td>");
  line("    <td align=\"center\"><b>" + sjis(L"日付") + "</b></td>");
  line("  </tr>");
  for (std::int32_t i = 1; i <= static_cast<std::int32_t>(kScoreEntries); ++i) {
    const ScoreEntryRaw e = table.get_entry2(i);
    line("  <tr>");
    line("    <td align=\"center\"><b>" + std::to_string(i) + "</b></td>");
    line("    <td>" + e.f0() + "</td>");
    line("    <td align=\"right\">" + std::to_string(e.score) + "</td>");
    line("    <td>" + format_date(e.date) + "</td>");
    line("  </tr>");
  }
  line("</table>");
  return out;
}

std::string export_text_bytes(const THiScore& table) {
  std::string out = "Zentropolium Score Top 10";
  out += kCrLf;
  out += kCrLf;
  for (std::int32_t i = 1; i <= static_cast<std::int32_t>(kScoreEntries); ++i) {
    const ScoreEntryRaw e = table.get_entry2(i);
    out += right(std::to_string(i), 2);
    out += "  ";
    out += right(e.f0(), 10);
    out += right(std::to_string(e.score), 15);
    out += kCrLf;
  }
  return out;
}

std::wstring extract_file_ext(std::wstring_view path) {
  const std::size_t dot = path.find_last_of(L".\\/:");
  if (dot == std::wstring_view::npos || path[dot] != L'.') return {};
  return std::wstring(path.substr(dot));
}

std::wstring change_file_ext(std::wstring_view path, std::wstring_view ext) {
  const std::size_t dot = path.find_last_of(L".\\/:");
  const std::size_t stem = dot != std::wstring_view::npos && path[dot] == L'.' ? dot : path.size();
  return std::wstring(path.substr(0, stem)) + std::wstring(ext);
}

SaveFormat save_format_for(std::wstring_view path) {
  const std::wstring ext = extract_file_ext(path);
  if (ext == L".html" || ext == L".htm") return SaveFormat::kHtml;
  if (ext == L".txt") return SaveFormat::kText;
  return SaveFormat::kScoreFile;
}

std::optional<WriteError> ExportHtml(const THiScore& table, std::wstring_view score_file_name) {
  return replace_file(change_file_ext(score_file_name, L".html"), export_html_bytes(table));
}

std::optional<WriteError> ExportText(const THiScore& table, std::wstring_view score_file_name) {
  return replace_file(change_file_ext(score_file_name, L".txt"), export_text_bytes(table));
}

}  // namespace zt::win
