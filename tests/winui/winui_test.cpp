// The dialog layer on its own: message-map lookup along the base chain, the
// data exchange, owner-draw dispatch and a modal run driven under Wine.
#include <gtest/gtest.h>

#include "tests/plugin/ui/win/ui_driver.h"
#include "winui/winui.h"

namespace {

using namespace winui;

class CBase : public CWnd {
    WINUI_DECLARE_MESSAGE_MAP()

public:
    int baseClicks = 0, baseTimers = 0;
    void OnClick() { ++baseClicks; }
    bool OnTimer(Msg& msg) {
        ++baseTimers;
        msg.result = 7;
        return true;
    }
};
WINUI_BEGIN_MESSAGE_MAP(CBase)
OnCommand<CBase, &CBase::OnClick>(10), OnCommand<CBase, &CBase::OnClick>(11),
    OnMessage<CBase, &CBase::OnTimer>(WM_TIMER),
    WINUI_END_MESSAGE_MAP(CBase, CWnd)

        class CDerived : public CBase {
    WINUI_DECLARE_MESSAGE_MAP()

public:
    int derivedClicks = 0;
    void OnClick10() { ++derivedClicks; }
    bool OnSize(Msg&) { return false; }  // declines: the chain goes on
    void OnThrow() { throw 1; }
};
WINUI_BEGIN_MESSAGE_MAP(CDerived)
OnCommand<CDerived, &CDerived::OnClick10>(10), OnMessage<CDerived, &CDerived::OnSize>(WM_SIZE),
    OnCommand<CDerived, &CDerived::OnThrow>(12),
    WINUI_END_MESSAGE_MAP(CDerived, CBase)

        Msg Command(UINT id, UINT code = BN_CLICKED) {
    return {WM_COMMAND, MAKEWPARAM(id, code), 0};
}

TEST(MessageMap, TheMostDerivedEntryWinsAndTheChainFillsIn) {
    CDerived w;
    Msg m = Command(10);
    EXPECT_TRUE(w.Dispatch(m));
    EXPECT_EQ(w.derivedClicks, 1);
    EXPECT_EQ(w.baseClicks, 0);
    m = Command(11);
    EXPECT_TRUE(w.Dispatch(m));
    EXPECT_EQ(w.baseClicks, 1);
    Msg timer{WM_TIMER, 0, 0};
    EXPECT_TRUE(w.Dispatch(timer));
    EXPECT_EQ(timer.result, 7);
}

TEST(MessageMap, CommandsMatchIdAndCode) {
    CDerived w;
    for (Msg m : {Command(11, BN_DBLCLK), Command(13), Msg{WM_SIZE, 0, 0}, Msg{WM_PAINT, 0, 0}}) {
        EXPECT_FALSE(w.Dispatch(m)) << m.message;
    }
    EXPECT_EQ(w.baseClicks + w.derivedClicks, 0);
}

TEST(MessageMap, AnExceptionStopsAtTheDispatch) {
    CDerived w;
    Msg m = Command(12);
    EXPECT_TRUE(w.Dispatch(m));
}

// A modal dialog from the test's own template.
class CTestDialog : public CDialog {
    WINUI_DECLARE_MESSAGE_MAP()

public:
    class CProbeButton : public CButton {
    public:
        int draws = 0;
        void DrawItem(const DRAWITEMSTRUCT& item) override {
            ++draws;
            FillRect(item.hDC, &item.rcItem, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        }
    };

    CTestDialog() : CDialog(100) {}
    bool initialisedAfterExchange = false;
    int check = 1;
    int goClicks = 0;
    CButton go;
    CProbeButton probe;

protected:
    void DoDataExchange(CDataExchange& dx) override {
        DDX_Control(dx, 201, go);
        DDX_Control(dx, 202, probe);
        DDX_Check(dx, 203, check);
    }
    BOOL OnInitDialog() override {
        initialisedAfterExchange = go.GetSafeHwnd() != nullptr && probe.GetSafeHwnd() != nullptr;
        return TRUE;
    }
    void OnOK() override {
        UpdateData(true);
        EndDialog(42);
    }

private:
    void OnGo() { ++goClicks; }
};
WINUI_BEGIN_MESSAGE_MAP(CTestDialog)
OnCommand<CTestDialog, &CTestDialog::OnGo>(201), WINUI_END_MESSAGE_MAP(CTestDialog, CDialog)

                                                     TEST(Dialog, ModalRunWithExchangeOwnerDrawAndOk) {
    CTestDialog dialog;
    INT_PTR result = 0;
    uint32_t probePixel = 0;
    fd::test::ui::RunDriven(
        [&](fd::test::ui::Driver& d) {
            HWND window = d.WaitFor([](HWND w) { return GetDlgItem(w, 202) != nullptr; });
            ASSERT_NE(window, nullptr);
            EXPECT_EQ(SendDlgItemMessageW(window, 203, BM_GETCHECK, 0, 0), BST_CHECKED);
            fd::test::ui::PostClick(window, 201);
            fd::test::ui::PostClick(window, 201);
            const fd::test::ui::Pixels p = fd::test::ui::Capture(GetDlgItem(window, 202));
            probePixel = p.at(p.width / 2, p.height / 2);
            SendDlgItemMessageW(window, 203, BM_SETCHECK, BST_UNCHECKED, 0);
            fd::test::ui::PostClick(window, IDOK);
        },
        [&] { result = dialog.DoModal(); });
    EXPECT_EQ(result, 42);
    EXPECT_TRUE(dialog.initialisedAfterExchange);
    EXPECT_EQ(dialog.goClicks, 2);
    EXPECT_GE(dialog.probe.draws, 1);
    EXPECT_EQ(probePixel, 0x000000u);
    EXPECT_EQ(dialog.check, 0);
    EXPECT_EQ(dialog.go.GetSafeHwnd(), nullptr) << "detached when the dialog went";
}

TEST(Dialog, CancelEndsWithIdCancel) {
    CTestDialog dialog;
    INT_PTR result = 0;
    fd::test::ui::RunDriven(
        [&](fd::test::ui::Driver& d) {
            HWND window = d.WaitFor([](HWND w) { return GetDlgItem(w, 202) != nullptr; });
            ASSERT_NE(window, nullptr);
            PostMessageW(window, WM_CLOSE, 0, 0);
        },
        [&] { result = dialog.DoModal(); });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(dialog.check, 1) << "nothing saved";
}

TEST(Text, Utf8RoundTrip) {
    EXPECT_EQ(Widen("并行协定CF4.1分析:"), L"并行协定CF4.1分析:");
    EXPECT_EQ(Narrow(L"預設值"), "預設值");
    EXPECT_EQ(Widen(""), L"");
}

}  // namespace
