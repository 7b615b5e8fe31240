#include "ranking.h"

#include <windows.h>

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

std::vector<std::string> reply_lines(std::string_view response) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < response.size()) {
    const std::size_t end = response.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      lines.emplace_back(response.substr(start));
      break;
    }
    lines.emplace_back(response.substr(start, end - start));
    start =
        end +
        (response[end] == '\r' && end + 1 < response.size() && response[end + 1] == '\n' ? 2 : 1);
  }
  return lines;
}

bool reply_is_error(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    if (!line.empty() && line[0] == '!') return true;
  }
  return false;
}

ReplyReport report_reply(std::string_view response) {
  ReplyReport r;
  const std::vector<std::string> lines = reply_lines(response);
  r.error = reply_is_error(lines);
  r.message = std::wstring(r.error ? L"登録作業中に、ランキングサーバが何らかのエラーを返しました。"
                                   : L"登録作業が完了しました。") +
              L"\r\n詳細は表示された通信ログ画面をご覧ください。";
  r.log.reserve(lines.size());
  for (const std::string& line : lines) r.log.push_back(from_code_page(line, kShiftJis));
  return r;
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

std::wstring network_ini_path() { return exe_dir() + std::wstring(kNetworkIni); }

}  // namespace zt::win
