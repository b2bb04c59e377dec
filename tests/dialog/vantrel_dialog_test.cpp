// The main dialog, run for real in this process: what it shows, the data
// exchange both ways, conversions through Enter and CONVERT, help (one box
// at a time), a handler that throws, the icon, and the four ways of ending
// it.
#include "ConvertCommand.h"
#include "TestDialogs.h"
#include "TextForPeople.h"
#include "VantrelApp.h"
#include "VantrelDlg.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <tuple>

namespace {

using driver::Text;
using driver::WaitUntil;

class TestDlg : public driver::Driven<CVantrelDlg> {
  public:
    using CVantrelDlg::m_editResult;
    using CVantrelDlg::m_hIcon;
    using CVantrelDlg::m_strCommand;
    using CVantrelDlg::m_strResult;
};

// Types `typed` into the command box, presses Enter there and waits for the
// result box to show `expected`.
void ConvertByEnter(HWND dialog, const std::u16string& typed, const std::u16string& expected) {
    HWND command = GetDlgItem(dialog, IDC_COMMAND);
    driver::SetText(command, u"");
    driver::Type(command, typed);
    ASSERT_TRUE(WaitUntil([&] { return Text(command) == typed; }))
        << "command box: expected \"" << driving::Printable(typed) << "\", got \""
        << driving::Printable(Text(command)) << "\"";
    driver::PressKey(command, VK_RETURN);
    HWND result = GetDlgItem(dialog, IDC_RESULT);
    EXPECT_TRUE(WaitUntil([&] { return Text(result) == expected; }))
        << "result box: expected \"" << driving::Printable(expected) << "\", got \""
        << driving::Printable(Text(result)) << "\"";
}

TEST(VantrelDialog, StartsEmptyWithItsIconsAndTheFocusOnConvert) {
    TestDlg dlg;
    ASSERT_NE(nullptr, dlg.m_hIcon) << "icon IDR_MAINFRAME was not loaded";
    driver::RunModal(dlg, [&](HWND dialog) {
        EXPECT_EQ(u"", Text(GetDlgItem(dialog, IDC_COMMAND)));
        EXPECT_EQ(u"", Text(GetDlgItem(dialog, IDC_RESULT)));
        EXPECT_EQ(u"Vantrel", Text(dialog));

        const auto big = reinterpret_cast<HICON>(SendMessageW(dialog, WM_GETICON, ICON_BIG, 0));
        const auto small = reinterpret_cast<HICON>(SendMessageW(dialog, WM_GETICON, ICON_SMALL, 0));
        EXPECT_EQ(dlg.m_hIcon, big);
        EXPECT_EQ(dlg.m_hIcon, small);

        HWND focus = driver::Focus(dialog);
        EXPECT_EQ(GetDlgItem(dialog, IDC_CONVERT), focus)
            << "focus is on control " << GetDlgCtrlID(focus);
        EXPECT_EQ(MAKELONG(IDC_CONVERT, DC_HASDEFID), SendMessageW(dialog, DM_GETDEFID, 0, 0));

        HWND bound = nullptr;
        dlg.RunOnDialogThread([&] { bound = dlg.m_editResult.m_hWnd; });
        EXPECT_EQ(GetDlgItem(dialog, IDC_RESULT), bound) << "result box not bound";
    });
    EXPECT_EQ(nullptr, dlg.m_editResult.m_hWnd) << "control object still bound after the end";
}

TEST(VantrelDialog, EnterConvertsAndShowsTheTrimmedCommand) {
    TestDlg dlg;
    const INT_PTR ended = driver::RunModal(dlg, [&](HWND dialog) {
        ConvertByEnter(dialog, u"  Set Mode 1  ",
                       u"F0 00 00 40 02 00 00 61 0a 53 65 74 20 4d 6f 64 65 20 31 F7");
        EXPECT_EQ(u"Set Mode 1", Text(GetDlgItem(dialog, IDC_COMMAND)));
        EXPECT_TRUE(IsWindowVisible(dialog)) << "a conversion ended the dialog";
        dlg.RunOnDialogThread([&] {
            EXPECT_EQ(u"Set Mode 1", dlg.m_strCommand);
            EXPECT_EQ(u"F0 00 00 40 02 00 00 61 0a 53 65 74 20 4d 6f 64 65 20 31 F7",
                      dlg.m_strResult);
        });
    });
    EXPECT_EQ(IDCANCEL, ended);
}

TEST(VantrelDialog, EachConversionReplacesTheResult) {
    TestDlg dlg;
    driver::RunModal(dlg, [&](HWND dialog) {
        ConvertByEnter(dialog, u"set x", u"F0 00 00 40 02 00 00 61 05 73 65 74 20 78 F7");
        ConvertByEnter(dialog, u"go 1", u"\"go 1\" does not start with \"set \"");
        ConvertByEnter(dialog, u"", u"\"\" does not start with \"set \"");
        // Whatever the result box held, typed or not, is replaced.
        driver::SetText(GetDlgItem(dialog, IDC_RESULT), u"left over");
        ConvertByEnter(dialog, u"SET y", u"F0 00 00 40 02 00 00 61 05 53 45 54 20 79 F7");
    });
}

TEST(VantrelDialog, ConvertButtonWorksTheWholeTextOfBothBoxes) {
    TestDlg dlg;
    driver::RunModal(dlg, [&](HWND dialog) {
        // Longer than the box shows: what the box holds converts whole.
        std::u16string typed = u"\r\n set " + std::u16string(300, u'A') + u"\u20AC\U0001F600 \t";
        HWND command = GetDlgItem(dialog, IDC_COMMAND);
        driver::SetText(command, typed);
        const std::u16string held = Text(command);
        std::u16string trimmed = held;
        const std::u16string expected = ConvertCommand(trimmed);

        SendMessageW(GetDlgItem(dialog, IDC_CONVERT), BM_CLICK, 0, 0);
        EXPECT_TRUE(WaitUntil([&] { return Text(GetDlgItem(dialog, IDC_RESULT)) == expected; }))
            << "result box holds " << Text(GetDlgItem(dialog, IDC_RESULT)).size()
            << " units, expected " << expected.size();
        EXPECT_EQ(trimmed, Text(command));
    });
}

TEST(VantrelDialog, DataExchangeRunsBothWays) {
    TestDlg dlg;
    driver::RunModal(dlg, [&](HWND dialog) {
        HWND command = GetDlgItem(dialog, IDC_COMMAND);
        HWND result = GetDlgItem(dialog, IDC_RESULT);

        dlg.RunOnDialogThread([&] {
            dlg.m_strCommand = u"set \u00E9t\u00E9";
            dlg.m_strResult = u"to the box";
            dlg.UpdateData(FALSE);
        });
        EXPECT_EQ(u"set \u00E9t\u00E9", Text(command));
        EXPECT_EQ(u"to the box", Text(result));

        const std::u16string longText(5000, u'z');
        driver::SetText(command, u"from the box");
        driver::SetText(result, longText);
        dlg.RunOnDialogThread([&] { dlg.UpdateData(TRUE); });
        dlg.RunOnDialogThread([&] {
            EXPECT_EQ(u"from the box", dlg.m_strCommand);
            EXPECT_EQ(longText, dlg.m_strResult);
        });
    });
}

TEST(VantrelDialog, F1ShowsHelpCaptionedWithTheApplicationName) {
    TestDlg dlg;
    theApp.m_pMainWnd = &dlg;
    driver::RunModal(dlg, [&](HWND dialog) {
        ASSERT_TRUE(driver::PressRealKey(dialog, VK_F1)) << "could not press F1";
        HWND help = driver::WaitForOtherDialog(dialog);
        ASSERT_NE(nullptr, help) << "no help window appeared";
        EXPECT_EQ(
            std::u16string(theApp.m_pszAppName, theApp.m_pszAppName + wcslen(theApp.m_pszAppName)),
            Text(help));
        EXPECT_EQ(dialog, GetWindow(help, GW_OWNER));
        // The message text is the static control of the message box.
        const std::u16string text = Text(GetDlgItem(help, 0xFFFF));
        EXPECT_NE(std::u16string::npos, text.find(u"\"set \"")) << driving::Printable(text);

        driver::PressKey(help, VK_RETURN);
        EXPECT_TRUE(WaitUntil([&] { return !IsWindow(help); })) << "help did not close";
        EXPECT_TRUE(IsWindowVisible(dialog));
    });
    theApp.m_pMainWnd = nullptr;
}

// F1 on the help box itself reaches the dialog as a help request too; it
// must not open a second box over the first. Escape then closes the one box,
// and the dialog takes keys again.
TEST(VantrelDialog, HelpOpensOnceAndTheDialogTakesKeysAfterIt) {
    TestDlg dlg;
    theApp.m_pMainWnd = &dlg;
    driver::RunModal(dlg, [&](HWND dialog) {
        ASSERT_TRUE(driver::PressRealKey(dialog, VK_F1)) << "could not press F1";
        HWND help = driver::WaitForOtherDialog(dialog);
        ASSERT_NE(nullptr, help) << "no help window appeared";
        ASSERT_TRUE(driver::PressRealKey(help, VK_F1)) << "could not press F1 on the help box";
        // Real keys are handled in order: by the time Escape has closed a
        // box, F1 has had its effect.
        ASSERT_TRUE(driving::PressKey(VK_ESCAPE));
        EXPECT_TRUE(WaitUntil([&] { return driver::FindOtherDialog(dialog) == nullptr; }))
            << "a help box is still open after Escape";
        // A box left open would keep the dialog disabled past the test.
        while (HWND left = driver::FindOtherDialog(dialog)) {
            PostMessageW(left, WM_COMMAND, IDOK, 0);
            WaitUntil([&] { return !IsWindow(left); });
        }
        EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(dialog) != FALSE; }));
        ConvertByEnter(dialog, u"set x", u"F0 00 00 40 02 00 00 61 05 73 65 74 20 78 F7");
    });
    theApp.m_pMainWnd = nullptr;
}

// An exception from a handler stops at the dialog procedure: a box captioned
// with the application's name tells the user, and the dialog goes on with
// its text.
TEST(VantrelDialog, AHandlerThatThrowsIsReportedAndTheDialogGoesOn) {
    struct Case {
        const char* name;
        std::function<void()> work;
        std::u16string says;
    };
    const Case cases[] = {
        {"out of memory", [] { throw std::bad_alloc(); }, u"too long to convert"},
        {"another exception", [] { throw std::runtime_error("disk on fire"); }, u"disk on fire"},
    };
    TestDlg dlg;
    driver::RunModal(dlg, [&](HWND dialog) {
        HWND command = GetDlgItem(dialog, IDC_COMMAND);
        driver::SetText(command, u"set kept");
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            // Posted, so the driver is free to answer the box.
            PostMessageW(dialog, driver::kRunOnDialogThread, 0, reinterpret_cast<LPARAM>(&c.work));
            HWND box = driver::WaitForOtherDialog(dialog);
            ASSERT_NE(nullptr, box) << "no message box appeared";
            EXPECT_EQ(std::u16string(theApp.m_pszAppName,
                                     theApp.m_pszAppName + wcslen(theApp.m_pszAppName)),
                      Text(box));
            const std::u16string text = Text(GetDlgItem(box, 0xFFFF));
            EXPECT_NE(std::u16string::npos, text.find(c.says)) << driving::Printable(text);
            driver::PressKey(box, VK_RETURN);
            EXPECT_TRUE(WaitUntil([&] { return !IsWindow(box); })) << "the box did not close";
        }
        EXPECT_EQ(u"set kept", Text(command));
        ConvertByEnter(dialog, u"set x", u"F0 00 00 40 02 00 00 61 05 73 65 74 20 78 F7");
    });
}

// A box that already holds what the conversion gives is left alone: the
// selection in it stays where the user put it.
TEST(VantrelDialog, ConvertLeavesBoxesThatHoldTheirTextAlone) {
    TestDlg dlg;
    driver::RunModal(dlg, [&](HWND dialog) {
        ConvertByEnter(dialog, u"set x", u"F0 00 00 40 02 00 00 61 05 73 65 74 20 78 F7");
        HWND command = GetDlgItem(dialog, IDC_COMMAND);
        HWND result = GetDlgItem(dialog, IDC_RESULT);
        SendMessageW(command, EM_SETSEL, 1, 3);
        SendMessageW(result, EM_SETSEL, 2, 5);
        SendMessageW(GetDlgItem(dialog, IDC_CONVERT), BM_CLICK, 0, 0);
        for (const auto& [box, start, end] : {std::tuple{command, 1u, 3u}, {result, 2u, 5u}}) {
            DWORD s = 0;
            DWORD e = 0;
            SendMessageW(box, EM_GETSEL, reinterpret_cast<WPARAM>(&s),
                         reinterpret_cast<LPARAM>(&e));
            EXPECT_EQ(start, s) << "control " << GetDlgCtrlID(box);
            EXPECT_EQ(end, e) << "control " << GetDlgCtrlID(box);
        }
    });
}

TEST(VantrelDialog, MinimisedDialogOffersItsIconForDragging) {
    TestDlg dlg;
    driver::RunModal(dlg, [&](HWND dialog) {
        // Asked again until it holds: a minimise that lands while the dialog
        // is still being shown and activated can be undone by that showing.
        EXPECT_TRUE(WaitUntil([&] {
            if (IsIconic(dialog) == FALSE) {
                ShowWindow(dialog, SW_MINIMIZE);
            }
            return IsIconic(dialog) != FALSE;
        }));
        // Painting while minimised takes the icon branch; it must leave the
        // window validated.
        RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        RECT update{};
        EXPECT_FALSE(GetUpdateRect(dialog, &update, FALSE));
        // WM_QUERYDRAGICON returns its result directly, not through
        // DWLP_MSGRESULT.
        EXPECT_EQ(reinterpret_cast<LRESULT>(dlg.m_hIcon),
                  SendMessageW(dialog, WM_QUERYDRAGICON, 0, 0));
        ShowWindow(dialog, SW_RESTORE);
    });
}

// DONE, Escape and the close box all end the dialog through cancel.
TEST(VantrelDialog, DoneEscapeAndTheCloseBoxEndIt) {
    struct Way {
        const char* name;
        std::function<void(HWND)> close;
    };
    const Way ways[] = {
        {"DONE", [](HWND d) { SendMessageW(GetDlgItem(d, IDCANCEL), BM_CLICK, 0, 0); }},
        {"Escape", [](HWND d) { driver::PressKey(GetDlgItem(d, IDC_COMMAND), VK_ESCAPE); }},
        {"close box", [](HWND d) { PostMessageW(d, WM_SYSCOMMAND, SC_CLOSE, 0); }},
        {"Enter on DONE",
         [](HWND d) {
             HWND done = GetDlgItem(d, IDCANCEL);
             PostMessageW(d, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(done), TRUE);
             WaitUntil([&] { return driver::Focus(d) == done; });
             driver::PressKey(done, VK_RETURN);
         }},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        TestDlg dlg;
        const INT_PTR ended = driver::RunModal(dlg, [&](HWND dialog) {
            way.close(dialog);
            EXPECT_TRUE(WaitUntil([&] { return !IsWindow(dialog); })) << "still open";
        });
        EXPECT_EQ(IDCANCEL, ended);
    }
}

} // namespace
