#include "ranking.h"

#include <windows.h>

#include <algorithm>

#include "date_time.h"
#include "exe_dir.h"
#include "http/http_client.h"
#include "text_codec.h"

namespace zt::win {

namespace {
constexpr char kHex[] = "0123456789ABCDEF";

std::wstring read_key(const std::wstring& path, const wchar_t* key, std::wstring_view fallback) {
  const std::wstring def(fallback);
  std::wstring buf(1024, L'\0');
  for (;;) {
    const DWORD n = GetPrivateProfileStringW(kNetworkSection.data(), key, def.c_str(), buf.data(),
                                             static_cast<DWORD>(buf.size()), path.c_str());
    if (n + 1 < buf.size() || buf.size() >= (1u << 20)) {
      buf.resize(n);
      return buf;
    }
    buf.resize(buf.size() * 2);
  }
}
}  // namespace

std::string ranking_entry_text(const ScoreEntryRaw& entry) {
  return std::to_string(entry.score) + "," + entry.f0() + "@" + format_date_time(entry.date);
}

std::string scramble_entry(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 3);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto key = static_cast<std::uint8_t>((i + 1) % 255);
    const auto b = static_cast<std::uint8_t>(static_cast<std::uint8_t>(text[i]) ^ key);
    out.push_back('%');
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 15]);
  }
  return out;
}

std::string ranking_body(std::string_view name_sjis, std::string_view comment_sjis,
                         const THiScore& table, std::span<const bool> ticked) {
  std::string body =
      "name=" + http::encode_param(name_sjis) + "&comment=" + http::encode_param(comment_sjis);
  for (std::size_t row = 0; row < ticked.size() && row < kScoreEntries; ++row) {
    if (!ticked[row]) continue;
    body += "&entry=";
    body +=
        scramble_entry(ranking_entry_text(table.get_entry2(static_cast<std::int32_t>(row) + 1)));
  }
  return body;
}

bool reply_is_error(std::string_view response) {
  for (std::size_t i = response.find('!'); i != std::string_view::npos;
       i = response.find('!', i + 1)) {
    if (i == 0 || response[i - 1] == '\r' || response[i - 1] == '\n') return true;
  }
  return false;
}

namespace {

// The longest start of Shift-JIS text that ends on a whole character.
std::string_view whole_characters(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t len = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC) ? 2 : 1;
    if (i + len > text.size()) break;
    i += len;
  }
  return text.substr(0, i);
}

}  // namespace

ReplyReport report_reply(std::string_view response) {
  ReplyReport r;
  r.error = reply_is_error(response);
  r.message = std::wstring(r.error ? L"登録作業中に、ランキングサーバが何らかのエラーを返しました。"
                                   : L"登録作業が完了しました。") +
              L"\r\n詳細は表示された通信ログ画面をご覧ください。";
  std::size_t start = 0;  // of the first byte not in the log
  std::size_t logged_bytes = 0;
  while (start < response.size() && r.log.size() < kReplyLogMaxLines &&
         logged_bytes < kReplyLogMaxBytes) {
    const std::size_t found = response.find_first_of("\r\n", start);
    const std::size_t end = found == std::string_view::npos ? response.size() : found;
    const std::string_view line = response.substr(start, end - start);
    const std::string_view shown =
        line.size() <= kReplyLogMaxBytes - logged_bytes
            ? line
            : whole_characters(line.substr(0, kReplyLogMaxBytes - logged_bytes));
    r.log.push_back(from_code_page(shown, kShiftJis));
    // A NUL would end the log control's text there, and hide what follows.
    std::replace(r.log.back().begin(), r.log.back().end(), L'\0', L'?');
    logged_bytes += shown.size();
    if (shown.size() < line.size()) {
      start += shown.size();
      break;
    }
    start = end;
    if (end < response.size()) {
      start +=
          response[end] == '\r' && end + 1 < response.size() && response[end + 1] == '\n' ? 2 : 1;
    }
  }
  if (start < response.size()) r.log.push_back(left_out_log_line(response.size() - start));
  return r;
}

std::wstring left_out_log_line(std::size_t bytes) {
  return L"(以下、" + std::to_wstring(bytes) + L" バイトを省略しました)";
}

std::wstring failure_log_line(std::string_view error_message) {
  return L"サーバとの接続に失敗しました。" + from_code_page(error_message, kShiftJis);
}

NetworkSettings read_network_ini(const std::wstring& path) {
  NetworkSettings s;
  s.ranking_server = read_key(path, L"RankingServer", kDefaultRankingServer);
  s.ranking_script = read_key(path, L"RankingScript", kDefaultRankingScript);
  s.web_home = read_key(path, L"WebHome", kDefaultWebHome);
  return s;
}

std::wstring network_ini_path() {
  return exe_dir() + std::wstring(kNetworkIni);
}

}  // namespace zt::win
