#include "forms/drop_target.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "dialog_driver.h"
#include "ole_objects.h"

namespace zt::win {
namespace {

using ::testing::ElementsAre;

struct ListForm : TForm {
  ListForm()
      : TForm(L"drop", 300, 200, FormBorder::kDialog, GetSysColor(COLOR_BTNFACE)),
        list(*this, L"lstFiles", 10, 10, 200, 150) {}
  TListBox list;
};

// The screen point at the client point of the control.
POINTL screen_point(const TControl& c, int x, int y) {
  POINT p{x, y};
  ClientToScreen(c.Handle(), &p);
  return POINTL{p.x, p.y};
}

DWORD keys(bool shift, bool ctrl) {
  return MK_LBUTTON | (shift ? MK_SHIFT : 0u) | (ctrl ? MK_CONTROL : 0u);
}

TEST(DropTarget, EffectFollowsDragtypesKeysAndTheSourceAllowed) {
  struct Case {
    TDragTypes types;
    DWORD allowed;
    bool shift, ctrl;
    DWORD effect;
  };
  const auto all = TDragType::dtCopy | TDragType::dtMove;
  const auto all3 = static_cast<TDragTypes>(all | static_cast<TDragTypes>(TDragType::dtLink));
  const auto move = static_cast<TDragTypes>(TDragType::dtMove);
  constexpr DWORD kAll = DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;
  const Case cases[] = {
      // The editor's target: move whatever the keys, nothing for a copy-only source.
      {move, kAll, false, false, DROPEFFECT_MOVE},
      {move, kAll, true, false, DROPEFFECT_MOVE},
      {move, kAll, false, true, DROPEFFECT_MOVE},
      {move, kAll, true, true, DROPEFFECT_MOVE},
      {move, DROPEFFECT_COPY, false, false, DROPEFFECT_NONE},
      {move, DROPEFFECT_COPY, true, true, DROPEFFECT_NONE},
      // Every effect allowed: Shift+Ctrl link, Shift move, else copy.
      {all3, kAll, false, false, DROPEFFECT_COPY},
      {all3, kAll, true, false, DROPEFFECT_MOVE},
      {all3, kAll, false, true, DROPEFFECT_COPY},
      {all3, kAll, true, true, DROPEFFECT_LINK},
      // Shift+Ctrl without link falls back to copy, then move, then link.
      {all, kAll, true, true, DROPEFFECT_COPY},
      {all3, DROPEFFECT_MOVE | DROPEFFECT_LINK, false, false, DROPEFFECT_MOVE},
      {all3, DROPEFFECT_LINK, true, false, DROPEFFECT_LINK},
  };
  ListForm form;
  form.Show();
  TDropFileTarget target;
  target.Register(&form.list);
  test::FileDataObject data({L"C:\\a.dat"});
  int drops = 0;
  target.OnDrop = [&](TDropTarget&, TShiftState, POINT, DWORD&) { ++drops; };
  const POINTL mid = screen_point(form.list, 100, 75);
  for (const Case& c : cases) {
    target.Dragtypes = c.types;
    DWORD effect = c.allowed;
    target.DragEnter(&data, keys(c.shift, c.ctrl), mid, &effect);
    EXPECT_EQ(effect, c.effect) << int(c.types) << " " << c.allowed << c.shift << c.ctrl;
    effect = c.allowed;
    target.DragOver(keys(c.shift, c.ctrl), mid, &effect);
    EXPECT_EQ(effect, c.effect);
    target.DragLeave();
  }
  // A drag that only leaves drops nothing and keeps no names or references.
  EXPECT_EQ(drops, 0);
  EXPECT_TRUE(target.FileList.empty());
  EXPECT_EQ(data.refs(), 1);
  target.Unregister();
}

TEST(DropTarget, DataWithoutAFileListIsRefused) {
  ListForm form;
  form.Show();
  TDropFileTarget target;
  target.Register(&form.list);
  test::FileDataObject data({L"C:\\a.dat"}, false);
  int entered = 0, dropped = 0;
  target.OnEnter = [&](TDropTarget&, TShiftState, POINT, DWORD&) { ++entered; };
  target.OnDrop = [&](TDropTarget&, TShiftState, POINT, DWORD&) { ++dropped; };
  const POINTL mid = screen_point(form.list, 100, 75);
  DWORD effect = DROPEFFECT_MOVE;
  target.DragEnter(&data, MK_LBUTTON, mid, &effect);
  EXPECT_EQ(effect, DWORD{DROPEFFECT_NONE});
  effect = DROPEFFECT_MOVE;
  target.DragOver(MK_LBUTTON, mid, &effect);
  EXPECT_EQ(effect, DWORD{DROPEFFECT_NONE});
  effect = DROPEFFECT_MOVE;
  target.Drop(&data, MK_LBUTTON, mid, &effect);
  EXPECT_EQ(effect, DWORD{DROPEFFECT_NONE});
  EXPECT_EQ(entered, 0);
  EXPECT_EQ(dropped, 0);
  EXPECT_EQ(data.refs(), 1);
}

TEST(DropTarget, ADropReportsTheEffectItHandsBackThroughPerformedDropEffect) {
  struct Case {
    bool handler_clears;  // the drop handler sets the effect to none
    bool near_bottom;     // dropped on the scrolling edge of the list
    DWORD handed_back, performed;
  };
  const Case cases[] = {
      {false, false, DROPEFFECT_MOVE, DROPEFFECT_MOVE},
      {true, false, DROPEFFECT_NONE, DROPEFFECT_NONE},
      // The scroll bit belongs to the cursor, not to what the drop did.
      {false, true, DROPEFFECT_MOVE | DROPEFFECT_SCROLL, DROPEFFECT_MOVE},
  };
  ListForm form;
  for (int i = 0; i < 40; ++i) form.list.Add(L"line " + std::to_wstring(i));
  form.Show();
  TDropFileTarget target;
  target.Dragtypes = static_cast<TDragTypes>(TDragType::dtMove);
  target.Register(&form.list);
  RECT client;
  GetClientRect(form.list.Handle(), &client);
  for (const Case& c : cases) {
    target.OnDrop = [&](TDropTarget&, TShiftState, POINT, DWORD& effect) {
      if (c.handler_clears) effect = DROPEFFECT_NONE;
    };
    test::FileDataObject data({L"C:\\a.dat"});
    const POINTL at = screen_point(form.list, 50, c.near_bottom ? client.bottom - 2 : 60);
    DWORD effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
    target.DragEnter(&data, MK_LBUTTON, at, &effect);
    effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
    target.Drop(&data, MK_LBUTTON, at, &effect);
    EXPECT_EQ(effect, c.handed_back);
    EXPECT_EQ(data.performed(), std::optional<DWORD>(c.performed));
    EXPECT_EQ(data.refs(), 1);
  }
  // A data object that keeps no report takes nothing from the drop.
  target.OnDrop = nullptr;
  test::FileDataObject refusing({L"C:\\a.dat"}, true, false);
  DWORD effect = DROPEFFECT_MOVE;
  const POINTL mid = screen_point(form.list, 50, 60);
  target.DragEnter(&refusing, MK_LBUTTON, mid, &effect);
  effect = DROPEFFECT_MOVE;
  target.Drop(&refusing, MK_LBUTTON, mid, &effect);
  EXPECT_EQ(effect, DWORD{DROPEFFECT_MOVE});
  EXPECT_EQ(refusing.performed(), std::nullopt);
  EXPECT_EQ(refusing.refs(), 1);
}

TEST(DropTarget, NearTheEdgeOfAScrollingListTheTimerScrolls) {
  ListForm form;
  for (int i = 0; i < 40; ++i) form.list.Add(L"line " + std::to_wstring(i));
  form.Show();
  TDropFileTarget target;
  target.Dragtypes = static_cast<TDragTypes>(TDragType::dtMove);
  target.Register(&form.list);
  test::FileDataObject data({L"C:\\a.dat"});
  RECT client;
  GetClientRect(form.list.Handle(), &client);
  DWORD effect = DROPEFFECT_MOVE;
  target.DragEnter(&data, MK_LBUTTON, screen_point(form.list, 50, 60), &effect);
  EXPECT_EQ(effect, DWORD{DROPEFFECT_MOVE});
  effect = DROPEFFECT_MOVE;
  target.DragOver(MK_LBUTTON, screen_point(form.list, 50, client.bottom - 2), &effect);
  EXPECT_EQ(effect, DWORD{DROPEFFECT_MOVE | DROPEFFECT_SCROLL});
  EXPECT_TRUE(target.Scrolling());
  const auto top = SendMessageW(form.list.Handle(), LB_GETTOPINDEX, 0, 0);
  EXPECT_TRUE(test::pump_until(
      [&] { return SendMessageW(form.list.Handle(), LB_GETTOPINDEX, 0, 0) > top; }, 3000));
  effect = DROPEFFECT_MOVE;
  target.DragOver(MK_LBUTTON, screen_point(form.list, 50, 60), &effect);
  EXPECT_EQ(effect, DWORD{DROPEFFECT_MOVE});
  EXPECT_FALSE(target.Scrolling());
  target.DragLeave();
  EXPECT_FALSE(target.Scrolling());
}

TEST(DropTarget, RegisteringTwiceOnOneWindowFailsWithTheControlsName) {
  ListForm form;
  TDropFileTarget first, second;
  first.Register(&form.list);
  first.Register(&form.list);  // the bound control again: nothing happens
  try {
    second.Register(&form.list);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), L"Failed to Register lstFiles");
  }
  EXPECT_EQ(second.Control(), nullptr);
  first.Unregister();
  EXPECT_EQ(first.Control(), nullptr);
  second.Register(&form.list);
  EXPECT_EQ(second.Control(), &form.list);
}

TEST(DropTarget, FileNameBlocksReadWhole) {
  // The second name begins with U+4E00, whose low byte is 0.
  const std::vector<std::wstring> wide = {L"C:\\a.dat", L"\u4E00\\b.dat", L"C:\\c.dat"};
  HGLOBAL g = test::make_hdrop(wide);
  EXPECT_EQ(read_hdrop_names(GlobalLock(g), GlobalSize(g)), wide);
  GlobalUnlock(g);
  GlobalFree(g);
  g = test::make_hdrop({L"C:\\x.dat", L"D:\\y.dat"}, false);
  EXPECT_THAT(read_hdrop_names(GlobalLock(g), GlobalSize(g)),
              ElementsAre(L"C:\\x.dat", L"D:\\y.dat"));
  // A block cut short ends the list without reading past it.
  EXPECT_THAT(read_hdrop_names(GlobalLock(g), sizeof(DROPFILES) + 4), ElementsAre());
  GlobalUnlock(g);
  GlobalFree(g);
  EXPECT_TRUE(read_hdrop_names(nullptr, 0).empty());
}

}  // namespace
}  // namespace zt::win
