// A settings file held in memory, read and edited by the rules of the
// system's profile functions (GetPrivateProfileStringW and
// WritePrivateProfileStringW). Those functions read the whole file again at
// every call, which takes a tenth of a second for a file of a megabyte, and
// seconds for a write under Wine; the program reads the file once and edits
// it here.
//
// Reading: the text is UTF-8 after a UTF-8 byte-order mark, UTF-16 after
// one of its two marks, else in the ANSI code page. Lines end at CR or LF.
// Blanks (tab to CR, space and Ctrl-Z) around a line, a section name, a key
// and a value do not count; a line beginning with "[" names a section up to
// its last "]"; a key runs to the first "=". Names end at a NUL and compare
// without regard to ASCII case. Of repeated sections and keys the first
// counts. A value loses one pair of quotes around it and is cut to the
// reader's buffer.
//
// Writing replaces the value of that first key where it stands, or adds the
// key after the last line of its section, or the section at the end of the
// file. Every other byte stays as it was; new lines end as the file's lines
// do (LF when every line end is a LF alone, else CR LF).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zt::win {

class IniText {
 public:
  // The whole file; empty for a file that is not there.
  explicit IniText(std::string_view bytes = {});

  // What GetPrivateProfileStringW gives with an empty default and a buffer
  // of `buffer_chars` characters, its NUL included: nothing for a key that
  // is not there or has no "=".
  std::wstring ReadString(std::wstring_view section, std::wstring_view key,
                          std::size_t buffer_chars) const;
  void WriteString(std::wstring_view section, std::wstring_view key, std::wstring_view value);
  // The same for several keys of one section, in their order, in one pass
  // over the file. No two keys are the same without regard to ASCII case.
  void WriteStrings(std::wstring_view section,
                    const std::vector<std::pair<std::wstring, std::wstring>>& values);

  // The file as it now stands, in its own encoding.
  std::string bytes() const;

 private:
  enum class Encoding { kAnsi, kUtf8, kUtf16Le, kUtf16Be };
  // One line in the file's code units and in the decoded text: the line
  // itself from `begin` to `end`, then its line end up to `next`.
  struct Line {
    std::size_t unit_begin, unit_end, unit_next;
    std::size_t text_begin, text_end;
  };
  struct Section {
    std::size_t name_begin, name_end;  // in the text, up to a NUL
    std::size_t first, end;            // its lines, after its header
    std::size_t last;  // its last line that is not blank, else its header (npos: none)
  };
  struct Found {
    std::size_t line;
    bool has_equals;
    std::wstring value;  // after the "=", blanks removed, up to a NUL
  };

  void parse();
  // The lines of the units and of the text, one for one; false when their
  // numbers differ.
  bool split_lines();
  // The text from `begin` to `end` without the blanks at its ends.
  std::pair<std::size_t, std::size_t> trimmed(std::size_t begin, std::size_t end) const;
  const Section* find_section(std::wstring_view name) const;
  bool find_key(const Section& section, std::wstring_view key, Found& found) const;
  // The text in the file's code units, and back.
  std::wstring encode(std::wstring_view text) const;
  std::wstring decode(std::wstring_view units) const;

  Encoding encoding_ = Encoding::kAnsi;
  std::string mark_;      // the byte-order mark
  std::wstring units_;    // the code units after it: bytes, or UTF-16 units
  std::string odd_byte_;  // a last byte that makes no UTF-16 unit
  std::wstring eol_;      // how added lines end
  std::wstring text_;     // the decoded units
  std::vector<Line> lines_;
  std::vector<Section> sections_;
};

}  // namespace zt::win
