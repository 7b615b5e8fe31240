// The score-file editor: score files dropped on its list are merged into one
// top-10 table, shown in a grid and saved as a score file, HTML or text.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "forms/drop_target.h"
#include "forms/forms.h"
#include "game/uhiscore.h"

namespace zt::win {

// The system's short date and long time of a score date.
std::wstring date_time_text(double days);

// The file's bytes; nothing when it does not exist. A file that cannot be
// opened or read, or is no file on a disk, raises an Exception.
std::optional<std::vector<std::uint8_t>> read_score_file(const std::wstring& path);

class TfrmScoreEdit : public TForm {
 public:
  TfrmScoreEdit();
  ~TfrmScoreEdit() override;

  TPageControl PageControl1;
  TLabel lblDescription;
  TLabel Label1;
  TListBox lstFileList;
  TStringGrid sgrScore;
  TButton btnClear;
  TButton btnSave;
  TButton btnClose;
  TSaveDialog SaveDialog1;
  TDropFileTarget DropFileTarget1;

  void FormCreate();
  void btnCloseClick();
  void btnSaveClick();
  void btnClearClick();
  void DropFileTarget1Drop(TDropTarget& sender, TShiftState shift, POINT point, DWORD& effect);

  void AddFile(const std::wstring& path);
  void Merge();

  const THiScore& MergedTable() const { return merged_; }
  bool Modified() const { return modified_; }
  int FileCount() const { return static_cast<int>(files_.size()); }

 private:
  void SaveScoreFile(const std::wstring& path);

  THiScore merged_{""};
  bool modified_ = false;
  std::vector<std::pair<std::wstring, std::unique_ptr<THiScore>>> files_;
  std::wstring last_written_;  // the score file the merged table was last saved to
};

}  // namespace zt::win
