// The framework's message maps on a live dialog: lookup through chained
// tables, handlers that decline, commands from menus, accelerators and
// controls, WM_INITDIALOG through the tables, the dialog procedure's two
// ways of returning a result, and the compile-time check of handler
// signatures.
#include "Afx.h"
#include "TestDialogs.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <concepts>

namespace {

constexpr UINT kAnsweredByBase = WM_APP + 1;
constexpr UINT kOverridden = WM_APP + 2;
constexpr UINT kDeclinedEverywhere = WM_APP + 3;
constexpr UINT kSomeCommand = 40001;

class BaseDlg : public CDialog {
  public:
    BaseDlg() : CDialog(IDD_MAIN_DIALOG) {}
    static const afx::MessageMap messageMap;
    const afx::MessageMap* GetMessageMap() const override { return &messageMap; }

    int commands = 0;
    int someCommands = 0;

  protected:
    LRESULT Answer41(WPARAM, LPARAM) { return 41; }
    LRESULT Answer7(WPARAM, LPARAM) { return 7; }
    void OnConvert() { ++commands; }
    void OnSomeCommand() { ++someCommands; }

  private:
    static const afx::MessageMapEntry messageEntries[];
};

constinit const afx::MessageMapEntry BaseDlg::messageEntries[] = {
    afx::OnMessage<kAnsweredByBase, &BaseDlg::Answer41>(),
    afx::OnMessage<kOverridden, &BaseDlg::Answer7>(),
    afx::OnBnClicked<IDC_CONVERT, &BaseDlg::OnConvert>(),
    afx::OnCommand<kSomeCommand, &BaseDlg::OnSomeCommand>(),
};
constinit const afx::MessageMap BaseDlg::messageMap{&CDialog::messageMap, BaseDlg::messageEntries};

class DerivedDlg : public BaseDlg {
  public:
    static const afx::MessageMap messageMap;
    const afx::MessageMap* GetMessageMap() const override { return &messageMap; }

    int declines = 0;
    bool initialisedByTable = false;

  protected:
    // Both decline through Default(), the one way there is, whatever the
    // handler's signature.
    LRESULT Decline(WPARAM, LPARAM) {
        ++declines;
        Default();
        return 0;
    }
    LRESULT Answer99(WPARAM, LPARAM) { return 99; }
    BOOL OnInitByTable() {
        initialisedByTable = true;
        return OnInitDialog();
    }
    void OnConvertFirst() {
        ++declines;
        Default();
    }

  private:
    static const afx::MessageMapEntry messageEntries[];
};

constinit const afx::MessageMapEntry DerivedDlg::messageEntries[] = {
    afx::OnMessage<kAnsweredByBase, &DerivedDlg::Decline>(),
    afx::OnMessage<kOverridden, &DerivedDlg::Answer99>(),
    afx::OnMessage<kDeclinedEverywhere, &DerivedDlg::Decline>(),
    afx::OnBnClicked<IDC_CONVERT, &DerivedDlg::OnConvertFirst>(),
    afx::OnWmInitDialog<&DerivedDlg::OnInitByTable>(),
};
constinit const afx::MessageMap DerivedDlg::messageMap{&BaseDlg::messageMap,
                                                       DerivedDlg::messageEntries};

using TestDlg = driver::Driven<DerivedDlg>;

TEST(MessageMap, LooksUpThroughTheChainAndHonoursDeclines) {
    TestDlg dlg;
    driver::RunModal(dlg, [&](HWND dialog) {
        // Results of ordinary messages travel through DWLP_MSGRESULT.
        EXPECT_EQ(41, SendMessageW(dialog, kAnsweredByBase, 0, 0)) << "declined, base answers";
        EXPECT_EQ(99, SendMessageW(dialog, kOverridden, 0, 0)) << "derived table first";
        EXPECT_EQ(0, SendMessageW(dialog, kDeclinedEverywhere, 0, 0)) << "default processing";

        SendMessageW(GetDlgItem(dialog, IDC_CONVERT), BM_CLICK, 0, 0);
        dlg.RunOnDialogThread([&] {
            EXPECT_EQ(1, dlg.commands) << "the click went on to the base handler";
            EXPECT_EQ(3, dlg.declines);
        });
    });
}

// A command comes from a menu (notification 0), an accelerator
// (notification 1) or a button (BN_CLICKED, 0); both of the first two have no
// control handle. Notification 1 from a control (a list box's selection
// change) is not a command.
TEST(MessageMap, OnCommandTakesMenusAcceleratorsAndClicksOnly) {
    TestDlg dlg;
    driver::RunModal(dlg, [&](HWND dialog) {
        const auto control = reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_COMMAND));
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(kSomeCommand, 0), 0);
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(kSomeCommand, 1), 0);
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(kSomeCommand, BN_CLICKED), control);
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(kSomeCommand, 1), control);
        dlg.RunOnDialogThread([&] { EXPECT_EQ(3, dlg.someCommands); });
    });
}

// WM_INITDIALOG reaches a table entry like any other message.
TEST(MessageMap, InitDialogGoesThroughTheTables) {
    TestDlg dlg;
    driver::RunModal(
        dlg, [&](HWND) { dlg.RunOnDialogThread([&] { EXPECT_TRUE(dlg.initialisedByTable); }); });
}

TEST(MessageMap, InitDialogResultIsReturnedDirectly) {
    // OnInitDialog returns TRUE, so the platform puts the focus on the first
    // tab stop; had the result gone to DWLP_MSGRESULT the procedure would
    // still return TRUE, so check the other way round too: a dialog whose
    // OnInitDialog returns FALSE keeps the focus where it put it.
    class KeepsFocus : public CDialog {
      public:
        KeepsFocus() : CDialog(IDD_MAIN_DIALOG) {}

      protected:
        BOOL OnInitDialog() override {
            CDialog::OnInitDialog();
            ::SetFocus(GetDlgItem(IDC_RESULT));
            return FALSE;
        }
    };
    driver::Driven<KeepsFocus> dlg;
    driver::RunModal(dlg, [&](HWND dialog) {
        EXPECT_EQ(GetDlgItem(dialog, IDC_RESULT), driver::Focus(dialog));
    });
}

// Signature checks happen at compile time: a handler of the wrong type for
// its message is rejected by the entry template.
struct Handlers : CDialog {
    void NoResult();
    BOOL WithResult();
    HCURSOR Cursor();
    LRESULT Raw(WPARAM, LPARAM);
};
template <auto H>
concept PaintHandler = requires {
    afx::OnWmPaint<H>();
};
template <auto H>
concept DragIconHandler = requires {
    afx::OnWmQueryDragIcon<H>();
};
template <auto H>
concept ClickHandler = requires {
    afx::OnBnClicked<1, H>();
};
template <auto H>
concept RawHandler = requires {
    afx::OnMessage<WM_APP, H>();
};

static_assert(PaintHandler<&Handlers::NoResult>);
static_assert(!PaintHandler<&Handlers::WithResult>);
static_assert(DragIconHandler<&Handlers::Cursor>);
static_assert(!DragIconHandler<&Handlers::NoResult>);
static_assert(ClickHandler<&Handlers::NoResult>);
static_assert(!ClickHandler<&Handlers::Raw>);
static_assert(RawHandler<&Handlers::Raw>);
static_assert(!RawHandler<&Handlers::WithResult>);

} // namespace
