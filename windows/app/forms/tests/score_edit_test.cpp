#include "forms/score_edit.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <limits>

#include "dialog_driver.h"
#include "fixture_table.h"
#include "ole_objects.h"
#include "score_export.h"

namespace zt::win {
namespace {

using test::DialogDriver;
using test::press;
using test::type_file;

std::string score_file(THiScore table) {
  const auto image = table.save();
  return std::string(reinterpret_cast<const char*>(image->data()), image->size());
}

THiScore with(std::initializer_list<std::tuple<const char*, std::int64_t, double>> entries) {
  THiScore t("x");
  for (const auto& [name, score, date] : entries) t.insert(name, score, date);
  return t;
}

std::vector<std::pair<std::string, std::int64_t>> names_and_scores(const THiScore& t) {
  std::vector<std::pair<std::string, std::int64_t>> out;
  for (const ScoreEntryRaw& e : t.entries()) out.emplace_back(e.f0(), e.score);
  return out;
}

// Shows the editor with the pointer over its file list, where a drag drops.
void show_under_the_pointer(TfrmScoreEdit& editor) {
  editor.Show();
  SetForegroundWindow(editor.Handle());
  RECT r;
  GetWindowRect(editor.lstFileList.Handle(), &r);
  SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  test::pump_until([] { return false; }, 200);
}

TEST(ScoreEditor, ThreeFilesDroppedFromADragAreMergedAndTheBadOneReported) {
  test::TempDir dir;
  const std::wstring good = dir.file(L"a.dat");
  const std::wstring wide = dir.file(L"\u4E00\u3042.dat");
  const std::wstring bad = dir.file(L"c.dat");
  test::write_bytes(good, score_file(test::fixture_table()));
  test::write_bytes(wide, score_file(with({{"WIDE", 50000, test::kSept9}})));
  test::write_bytes(bad, "not a score file");
  const std::string good_bytes = test::read_bytes(good);

  TfrmScoreEdit editor;
  show_under_the_pointer(editor);

  DialogDriver boxes({press(IDOK)});
  test::FileDataObject data({good, wide, bad});
  test::DroppingSource source;
  DWORD effect = 0;
  const HRESULT hr =
      DoDragDrop(&data, &source, DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK, &effect);
  boxes.finish();
  EXPECT_EQ(hr, DRAGDROP_S_DROP);
  // Shown as a move while dragging, reported as nothing moved at the drop.
  EXPECT_EQ(source.last_feedback(), DWORD{DROPEFFECT_MOVE});
  EXPECT_EQ(effect, DWORD{DROPEFFECT_NONE});
  ASSERT_TRUE(boxes.all_done());
  EXPECT_THAT(boxes.texts(), ::testing::ElementsAre(L"このファイルは無効です:" + bad));
  EXPECT_EQ(editor.FileCount(), 2);
  EXPECT_EQ(editor.lstFileList.Count(), 2);
  EXPECT_EQ(names_and_scores(editor.MergedTable())[1],
            std::make_pair(std::string("WIDE"), std::int64_t{50000}));
  EXPECT_EQ(editor.sgrScore.Cell(0, 1), L"ZENTRIA");
  EXPECT_EQ(editor.sgrScore.Cell(1, 2), L"50000");
  EXPECT_TRUE(editor.Modified());
  EXPECT_TRUE(editor.btnSave.Enabled());
  // A move only reads: the originals stay as they were.
  EXPECT_EQ(test::read_bytes(good), good_bytes);
  EXPECT_TRUE(test::file_exists(wide));
}

TEST(ScoreEditor, AFileDraggedAsTheShellDragsItStaysInItsFolder) {
  // A plain drag allows every effect; some sources allow only the move.
  for (const DWORD allowed :
       {DWORD{DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK}, DWORD{DROPEFFECT_MOVE}}) {
    SCOPED_TRACE(allowed);
    test::TempDir dir;
    const std::wstring file = dir.file(L"ZTScore.dat");
    test::write_bytes(file, score_file(with({{"KEPT", 9000000, test::kSept9}})));
    const std::string bytes = test::read_bytes(file);

    TfrmScoreEdit editor;
    show_under_the_pointer(editor);
    test::FileDataObject data({file});
    DWORD effect = 0;
    EXPECT_EQ(test::drag_files_like_the_shell(data, allowed, effect), DRAGDROP_S_DROP);
    EXPECT_EQ(effect, DWORD{DROPEFFECT_NONE});
    EXPECT_EQ(data.performed(), std::optional<DWORD>(DROPEFFECT_NONE));
    ASSERT_TRUE(test::file_exists(file));
    EXPECT_TRUE(test::read_bytes(file) == bytes) << "the dropped file changed";
    EXPECT_EQ(names_and_scores(editor.MergedTable())[0],
              std::make_pair(std::string("KEPT"), std::int64_t{9000000}));
  }
}

TEST(ScoreEditor, MergeKeepsTheTopTenOfTheDefaultsAndEveryFile) {
  test::TempDir dir;
  const std::wstring a = dir.file(L"a.dat"), b = dir.file(L"b.dat"), c = dir.file(L"c.dat");
  test::write_bytes(a, score_file(with({{"AAA", 9500, 100.0}})));
  test::write_bytes(b, score_file(with({{"BBB", 9500, 200.0}})));
  test::write_bytes(c, score_file(with({{"EQ", 3000, 300.0}})));

  TfrmScoreEdit editor;
  // Nothing loaded: the default table, saving off.
  EXPECT_EQ(editor.MergedTable().entries(), THiScore("").entries());
  EXPECT_FALSE(editor.btnSave.Enabled());
  EXPECT_FALSE(editor.Modified());
  EXPECT_EQ(editor.sgrScore.Cell(0, 0), L"名前");
  EXPECT_EQ(editor.sgrScore.Cell(0, 10), L"KOVAKOVA");
  EXPECT_EQ(editor.sgrScore.Cell(1, 10), L"1000");

  // Two copies of one file merge to the table of one.
  editor.AddFile(a);
  editor.Merge();
  const ScoreEntries one = editor.MergedTable().entries();
  editor.AddFile(a);
  editor.Merge();
  EXPECT_EQ(editor.MergedTable().entries(), one);

  // Equal scores from different files both stay, the later one below; a
  // score only equal to the tenth's is not taken.
  editor.btnClearClick();
  EXPECT_EQ(editor.lstFileList.Count(), 0);
  EXPECT_FALSE(editor.btnSave.Enabled());
  for (const auto& f : {a, b, c}) editor.AddFile(f);
  editor.Merge();
  const auto got = names_and_scores(editor.MergedTable());
  EXPECT_EQ(got[1], std::make_pair(std::string("AAA"), std::int64_t{9500}));
  EXPECT_EQ(got[2], std::make_pair(std::string("BBB"), std::int64_t{9500}));
  EXPECT_EQ(got[9], std::make_pair(std::string("KOVAKOVA"), std::int64_t{3000}));
  EXPECT_TRUE(editor.btnSave.Enabled());
  EXPECT_TRUE(editor.Modified());
}

// Entries whose dates are no numbers, or -0, merge by their stored bits:
// the same file dropped twice gives the table of one drop, each entry once,
// and the grid draws such a date as the game does.
TEST(ScoreEditor, TheSameFileDroppedTwiceMergesAsOnceWhateverItsDatesHold) {
  test::TempDir dir;
  const std::wstring file = dir.file(L"odd.dat");
  const double nan = std::numeric_limits<double>::quiet_NaN();
  test::write_bytes(file, score_file(with({{"NAN", 90000, nan},
                                           {"NEGNAN", 80000, -nan},
                                           {"INF", 70000, std::numeric_limits<double>::infinity()},
                                           {"ZERO", 60000, -0.0}})));
  TfrmScoreEdit editor;
  show_under_the_pointer(editor);
  std::vector<std::array<std::uint8_t, ScoreEntryRaw::kSize>> after_one;
  for (int drop = 1; drop <= 2; ++drop) {
    SCOPED_TRACE(drop);
    test::FileDataObject data({file});
    DWORD effect = 0;
    ASSERT_EQ(test::drag_files_like_the_shell(data, DROPEFFECT_MOVE, effect), DRAGDROP_S_DROP);
    EXPECT_EQ(editor.FileCount(), drop);
    std::vector<std::array<std::uint8_t, ScoreEntryRaw::kSize>> entries;
    for (const ScoreEntryRaw& e : editor.MergedTable().entries()) entries.push_back(e.encode());
    if (drop == 1) after_one = entries;
    EXPECT_EQ(entries, after_one);
  }
  const std::wstring rows[] = {L"NAN", L"NEGNAN", L"INF", L"ZERO", L"KOVAKOVA"};
  for (int row = 1; row <= 5; ++row) EXPECT_EQ(editor.sgrScore.Cell(0, row), rows[row - 1]);
  EXPECT_EQ(editor.sgrScore.Cell(2, 1), L"----/--/-- --:--:--");
}

TEST(ScoreEditor, GridShowsItsHeaderAndTenWholeRowsOf14PixelsWithoutScrollBars) {
  TfrmScoreEdit editor;
  editor.Show();
  HWND grid = editor.sgrScore.Handle();
  RECT client{};
  GetClientRect(grid, &client);
  RECT header{};
  GetWindowRect(ListView_GetHeader(grid), &header);
  int top = header.bottom - header.top;
  for (int row = 0; row < 10; ++row) {
    RECT r{};
    ASSERT_TRUE(ListView_GetItemRect(grid, row, &r, LVIR_BOUNDS));
    EXPECT_EQ(r.bottom - r.top, 14) << row;
    EXPECT_GE(r.top, top) << row;
    top = r.bottom;
  }
  EXPECT_LE(top, client.bottom);
  EXPECT_EQ(GetWindowLongW(grid, GWL_STYLE) & (WS_VSCROLL | WS_HSCROLL), 0);
}

TEST(ScoreEditor, AMissingFileIsReportedAndTheListKept) {
  test::TempDir dir;
  TfrmScoreEdit editor;
  editor.Show();
  DialogDriver boxes({press(IDOK)});
  editor.AddFile(dir.file(L"none.dat"));
  boxes.finish();
  EXPECT_THAT(boxes.texts(),
              ::testing::ElementsAre(L"このファイルは無効です:" + dir.file(L"none.dat")));
  EXPECT_EQ(editor.FileCount(), 0);
}

// Far too long for a score file is invalid; a device or a file another
// program holds against reading is reported as unreadable; the rest is added.
TEST(ScoreEditor, FilesTooLongOrUnreadableAreReportedAndTheRestAdded) {
  test::TempDir dir;
  const std::wstring huge = dir.file(L"huge.dat"), held = dir.file(L"held.dat");
  const std::wstring good = dir.file(L"good.dat");
  HANDLE f = CreateFileW(huge.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  LARGE_INTEGER size;
  size.QuadPart = 8ll << 30;
  ASSERT_TRUE(SetFilePointerEx(f, size, nullptr, FILE_BEGIN) && SetEndOfFile(f));
  CloseHandle(f);
  test::write_bytes(held, score_file(test::fixture_table()));
  test::write_bytes(good, score_file(test::fixture_table()));
  HANDLE holder = CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);

  TfrmScoreEdit editor;
  editor.Show();
  DialogDriver boxes({press(IDOK), press(IDOK), press(IDOK)});
  for (const std::wstring& path : {huge, std::wstring(L"NUL"), held, good}) editor.AddFile(path);
  boxes.finish();
  CloseHandle(holder);
  EXPECT_THAT(boxes.texts(), ::testing::ElementsAre(L"このファイルは無効です:" + huge,
                                                    L"I/O error 222", L"I/O error 32"));
  EXPECT_EQ(editor.FileCount(), 1);
  DeleteFileW(huge.c_str());
}

TEST(ScoreEditor, SaveWritesTheFormatOfTheExtensionWithItsCase) {
  test::TempDir dir;
  const std::wstring a = dir.file(L"a.dat");
  test::write_bytes(a, score_file(test::fixture_table()));
  TfrmScoreEdit editor;
  editor.Show();
  editor.AddFile(a);
  editor.Merge();
  const std::string html = export_html_bytes(editor.MergedTable());
  const std::string text = export_text_bytes(editor.MergedTable());

  struct Case {
    const wchar_t* chosen;
    const wchar_t* written;
    std::string bytes;  // empty: a 320-byte score file
  };
  const Case cases[] = {
      {L"t1.HTML", L"t1.HTML", ""},
      {L"t2.htm", L"t2.html", html},
      {L"t3.html", L"t3.html", html},
      {L"t4.txt", L"t4.txt", text},
      {L"t5", L"t5", ""},
  };
  for (const Case& c : cases) {
    // A new merge before each, as after a drop.
    editor.Merge();
    DialogDriver dialog({type_file(dir.file(c.chosen))});
    editor.btnSaveClick();
    dialog.finish();
    ASSERT_TRUE(dialog.all_done()) << c.chosen;
    const std::string got = test::read_bytes(dir.file(c.written));
    if (c.bytes.empty()) {
      EXPECT_EQ(got.size(), kScoreFileSize) << c.chosen;
      THiScore back("");
      ASSERT_EQ(back.load(std::vector<std::uint8_t>(got.begin(), got.end())), HiScoreLoad::Loaded);
      EXPECT_EQ(back.entries(), editor.MergedTable().entries());
    } else {
      EXPECT_EQ(got, c.bytes) << c.chosen;
    }
    EXPECT_FALSE(editor.Modified());
  }
  EXPECT_FALSE(test::file_exists(dir.file(L"t2.htm")));

  // Unchanged since the last score-file save: the same name is not written
  // again, another name is.
  DeleteFileW(dir.file(L"t5").c_str());
  {
    DialogDriver dialog({type_file(dir.file(L"t5"))});
    editor.btnSaveClick();
  }
  EXPECT_FALSE(test::file_exists(dir.file(L"t5")));
  {
    DialogDriver dialog({type_file(dir.file(L"t6.dat"))});
    editor.btnSaveClick();
  }
  EXPECT_EQ(test::read_bytes(dir.file(L"t6.dat")).size(), kScoreFileSize);
}

TEST(ScoreEditor, AFailedWriteRaisesAndKeepsTheTableModified) {
  test::TempDir dir;
  const std::wstring a = dir.file(L"a.dat");
  test::write_bytes(a, score_file(test::fixture_table()));
  TfrmScoreEdit editor;
  editor.Show();
  editor.AddFile(a);
  editor.Merge();
  for (const wchar_t* name : {L"locked.txt", L"locked.dat"}) {
    const std::wstring path = dir.file(name);
    test::write_bytes(path, "old");
    // Held open without sharing: the editor cannot replace it.
    HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    DialogDriver dialog({type_file(path), press(IDYES)});
    EXPECT_THROW(editor.btnSaveClick(), Exception) << name;
    dialog.finish();
    EXPECT_TRUE(dialog.all_done());
    CloseHandle(held);
    EXPECT_TRUE(editor.Modified()) << name;
    EXPECT_EQ(test::read_bytes(path), "old");
  }
}

TEST(ScoreEditor, CloseAsksToSaveAMergedTable) {
  test::TempDir dir;
  const std::wstring a = dir.file(L"a.dat");
  test::write_bytes(a, score_file(test::fixture_table()));
  TfrmScoreEdit editor;
  editor.Show();
  // Nothing merged from a file: closes without asking.
  editor.btnCloseClick();
  EXPECT_EQ(editor.GetModalResult(), mrOk);

  editor.SetModalResult(mrNone);
  editor.AddFile(a);
  editor.Merge();
  {
    DialogDriver boxes({press(IDCANCEL)});
    editor.btnCloseClick();
    boxes.finish();
    EXPECT_THAT(boxes.texts(), ::testing::ElementsAre(L"結合済みスコアファイルを保存しますか？"));
    EXPECT_EQ(editor.GetModalResult(), mrNone);
  }
  {
    // Yes, then a cancelled save dialog: nothing saved, and the form closes.
    DialogDriver boxes({press(IDYES), press(IDCANCEL)});
    editor.btnCloseClick();
    boxes.finish();
    EXPECT_TRUE(boxes.all_done());
    EXPECT_EQ(editor.GetModalResult(), mrOk);
    EXPECT_TRUE(editor.Modified());
  }
  editor.SetModalResult(mrNone);
  {
    DialogDriver boxes({press(IDYES), type_file(dir.file(L"closing.txt"))});
    editor.btnCloseClick();
    boxes.finish();
    EXPECT_EQ(editor.GetModalResult(), mrOk);
    EXPECT_FALSE(editor.Modified());
    EXPECT_EQ(test::read_bytes(dir.file(L"closing.txt")), export_text_bytes(editor.MergedTable()));
  }
}

}  // namespace
}  // namespace zt::win
