// Black-box tests of Vantrel.exe. The real program is started as a process
// of its own and worked through its dialog the way a person works it: keys
// typed with SendInput while the dialog is in front, clicks at the centre of
// the controls. Each test then reads back what the dialog shows and compares
// it with what it should show; expected results come from the project's own
// conversion (or, for the worked examples, are written out). Every test
// starts the program in a fresh empty working folder and, when the test
// ends, checks that the program left no file there and no settings in the
// registry.
#include "Clipboard.h"
#include "DialogUnits.h"
#include "ProcessDialogs.h"
#include "ProgramUnderTest.h"
#include "StoredState.h"
#include "TextForPeople.h"
#include "ThreadFocus.h"
#include "UserInput.h"
#include "Waiting.h"
#include "WindowReading.h"
#include "resource.h"

#include "ConvertCommand.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace blackbox {
namespace {

using driving::DialogsOfProcess;
using driving::FocusOf;
using driving::Printable;
using driving::WaitUntil;

constexpr int kCommandId = IDC_COMMAND;
constexpr int kResultId = IDC_RESULT;
constexpr int kConvertId = IDC_CONVERT;
constexpr int kDoneId = IDCANCEL;

// Where a program made with the class-library wizard would keep settings.
const std::wstring kSettingsKey = L"Software\\Local AppWizard-Generated Applications";

const std::wstring kRefusalEnd = L"\" does not start with \"set \"";

// What the dialog shows after a conversion.
struct Outcome {
    std::wstring command; // the command box: the trimmed command
    std::wstring result;  // the result box: the message or the complaint
};

// The project's own conversion of what the command box held.
Outcome ExpectedOutcome(const std::wstring& held) {
    std::u16string command;
    for (wchar_t unit : held) {
        command += static_cast<char16_t>(unit);
    }
    const std::u16string result = ConvertCommand(command);
    Outcome outcome;
    for (char16_t unit : command) {
        outcome.command += static_cast<wchar_t>(unit);
    }
    for (char16_t unit : result) {
        outcome.result += static_cast<wchar_t>(unit);
    }
    return outcome;
}

std::string RectText(const RECT& r) {
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "(%ld, %ld)-(%ld, %ld), %ld x %ld", r.left, r.top, r.right,
                  r.bottom, r.right - r.left, r.bottom - r.top);
    return buffer;
}

// The centre of the caption's close button, found by asking the dialog what
// each point of its caption strip is (WM_NCHITTEST), or nothing if no point
// answers HTCLOSE.
std::optional<POINT> CloseButtonCentre(HWND dialog) {
    RECT window{};
    GetWindowRect(dialog, &window);
    POINT clientTop{0, 0};
    ClientToScreen(dialog, &clientTop);
    RECT button{LONG_MAX, LONG_MAX, LONG_MIN, LONG_MIN};
    for (LONG y = window.top; y < clientTop.y; ++y) {
        for (LONG x = window.right - 1; x >= window.right - 80 && x >= window.left; --x) {
            DWORD_PTR hit = 0;
            if (SendMessageTimeoutW(dialog, WM_NCHITTEST, 0, MAKELPARAM(x, y), SMTO_BLOCK, 5000,
                                    &hit) != 0 &&
                hit == HTCLOSE) {
                button = RECT{std::min(button.left, x), std::min(button.top, y),
                              std::max(button.right, x), std::max(button.bottom, y)};
            }
        }
    }
    if (button.left > button.right) {
        return std::nullopt;
    }
    return POINT{(button.left + button.right) / 2, (button.top + button.bottom) / 2};
}

class VantrelDialog : public ::testing::Test {
  protected:
    void SetUp() override {
        settingsBefore_ = RegistryPicture(HKEY_CURRENT_USER, kSettingsKey);
        softwareKeysBefore_ = SubkeyNames(HKEY_CURRENT_USER, L"Software");
        folder_ = MakeEmptyFolder();
        ASSERT_FALSE(folder_.empty()) << "could not make an empty working folder";
        ASSERT_TRUE(program_.Start(ProgramPath(), folder_));
        dialog_ = program_.Dialog();
        const struct {
            HWND* control;
            int id;
            const char* name;
        } controls[] = {{&convert_, kConvertId, "CONVERT"},
                        {&done_, kDoneId, "DONE"},
                        {&command_, kCommandId, "the command box"},
                        {&result_, kResultId, "the result box"}};
        for (const auto& c : controls) {
            *c.control = GetDlgItem(dialog_, c.id);
            ASSERT_NE(nullptr, *c.control)
                << "the dialog has no control with id " << c.id << " (" << c.name << ")";
        }
    }

    void TearDown() override {
        program_.Terminate();
        const std::wstring settingsAfter = RegistryPicture(HKEY_CURRENT_USER, kSettingsKey);
        EXPECT_EQ(settingsBefore_, settingsAfter)
            << "the program changed HKEY_CURRENT_USER\\" << Printable(kSettingsKey);
        const std::vector<std::wstring> softwareKeysAfter =
            SubkeyNames(HKEY_CURRENT_USER, L"Software");
        EXPECT_EQ(softwareKeysBefore_, softwareKeysAfter)
            << "the keys under HKEY_CURRENT_USER\\Software changed while the program ran";
        if (!folder_.empty()) {
            const std::vector<std::wstring> left = FolderContents(folder_);
            EXPECT_TRUE(left.empty()) << "the program left " << left.size()
                                      << " entries in its working folder, the first "
                                      << Printable(left.empty() ? L"" : left.front());
            RemoveFolder(folder_);
        }
    }

    Person AtDialog() const { return Person(dialog_); }

    HWND Focus() const { return FocusOf(program_.DialogThreadId()); }

    // Waits until the focus is on `expected`.
    ::testing::AssertionResult FocusComesTo(HWND expected) const {
        if (WaitUntil([&] { return Focus() == expected; })) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure()
               << "focus: expected on " << Printable(Describe(expected)) << ", actual on "
               << Printable(Describe(Focus()));
    }

    // Presses Tab until the focus is on `target`, each press waiting for
    // the focus to move.
    ::testing::AssertionResult TabTo(HWND target) const {
        for (int presses = 0; presses < 6 && Focus() != target; ++presses) {
            const HWND before = Focus();
            if (auto pressed = AtDialog().Press(VK_TAB); !pressed) {
                return pressed;
            }
            if (!WaitUntil([&] { return Focus() != before; })) {
                return ::testing::AssertionFailure()
                       << "Tab did not move the focus from " << Printable(Describe(before));
            }
        }
        return FocusComesTo(target);
    }

    // Selects the whole text of the edit box that has the focus with the
    // keyboard: Ctrl+Home, then Shift+Ctrl+End.
    ::testing::AssertionResult SelectAllWithKeyboard(HWND edit) const {
        const Person person = AtDialog();
        if (auto r = person.PressUntil(VK_HOME, MOD_CONTROL,
                                       [&] {
                                           return SelectionOf(edit) == Selection{0, 0};
                                       });
            !r) {
            return r << " (Ctrl+Home: the selection is " << SelectionOf(edit).start << " to "
                     << SelectionOf(edit).end << ")";
        }
        const auto everything = [&] {
            return SelectionOf(edit) == Selection{0, static_cast<DWORD>(TextOf(edit).size())};
        };
        if (auto r = person.PressUntil(VK_END, MOD_CONTROL | MOD_SHIFT, everything); !r) {
            return r << " (Shift+Ctrl+End selected " << SelectionOf(edit).start << " to "
                     << SelectionOf(edit).end << " of " << TextOf(edit).size() << " units)";
        }
        return ::testing::AssertionSuccess();
    }

    // Clicks into the command box and empties it with the keyboard:
    // everything selected, then Delete.
    ::testing::AssertionResult ClearCommandBox() const {
        const Person person = AtDialog();
        if (auto r = person.Click(command_); !r) {
            return r;
        }
        if (auto r = FocusComesTo(command_); !r) {
            return r << " (after a click into the command box)";
        }
        if (auto r = SelectAllWithKeyboard(command_); !r) {
            return r;
        }
        if (auto r = person.Press(VK_DELETE); !r) {
            return r;
        }
        if (!WaitUntil([&] { return TextOf(command_).empty(); })) {
            return ::testing::AssertionFailure()
                   << "the command box still shows \"" << Printable(TextOf(command_))
                   << "\" after selecting everything and pressing Delete";
        }
        return ::testing::AssertionSuccess();
    }

    // Empties the command box, types `text` into it and waits until the box
    // shows it.
    ::testing::AssertionResult TypeCommand(const std::wstring& text) const {
        if (auto r = ClearCommandBox(); !r) {
            return r;
        }
        if (auto r = AtDialog().Type(text); !r) {
            return r;
        }
        return CommandBoxShows(text);
    }

    // Puts text with characters that cannot be typed (line breaks: Enter
    // would press CONVERT) into the command box with WM_SETTEXT.
    ::testing::AssertionResult SetCommandText(const std::wstring& text) const {
        DWORD_PTR answer = 0;
        SendMessageTimeoutW(command_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                            SMTO_BLOCK, 5000, &answer);
        return CommandBoxShows(text);
    }

    ::testing::AssertionResult CommandBoxShows(const std::wstring& text) const {
        if (WaitUntil([&] { return TextOf(command_) == text; })) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure()
               << "command box: expected \"" << Printable(text) << "\", actual \""
               << Printable(TextOf(command_)) << "\"";
    }

    enum class Trigger { kEnter, kClickConvert };

    // Converts what the command box holds, with Enter or a click on
    // CONVERT, and checks both boxes against the project's conversion of
    // it. `written` is the same outcome written out, for worked examples.
    void ConvertAndCheck(Trigger trigger, const Outcome* written = nullptr) const {
        const std::wstring held = TextOf(command_);
        const Outcome expected = ExpectedOutcome(held);
        if (written != nullptr) {
            ASSERT_EQ(written->command, expected.command) << "the worked example's command box";
            ASSERT_EQ(written->result, expected.result) << "the worked example's result";
        }
        // Otherwise the check below would pass without a conversion.
        ASSERT_NE(expected.result, TextOf(result_))
            << "the result box shows the expected result before converting";
        if (trigger == Trigger::kEnter) {
            ASSERT_TRUE(AtDialog().Press(VK_RETURN));
        } else {
            ASSERT_TRUE(AtDialog().Click(convert_));
        }
        WaitUntil([&] {
            return TextOf(result_) == expected.result && TextOf(command_) == expected.command;
        });
        EXPECT_EQ(expected.result, TextOf(result_))
            << "the result box after converting \"" << Printable(held) << "\"";
        EXPECT_EQ(expected.command, TextOf(command_))
            << "the command box after converting \"" << Printable(held) << "\"";
        ASSERT_TRUE(program_.IsRunning() && IsWindowVisible(dialog_))
            << "the dialog closed on converting";
    }

    ProgramUnderTest program_;
    HWND dialog_ = nullptr;
    HWND convert_ = nullptr;
    HWND done_ = nullptr;
    HWND command_ = nullptr;
    HWND result_ = nullptr;

  private:
    std::wstring settingsBefore_;
    std::vector<std::wstring> softwareKeysBefore_;
    std::wstring folder_;
};

TEST_F(VantrelDialog, ShowsTheDesignedDialogAndTabWalksItsControls) {
    EXPECT_EQ(L"Vantrel", TextOf(dialog_)) << "caption";
    const auto style = static_cast<DWORD>(GetWindowLongW(dialog_, GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(GetWindowLongW(dialog_, GWL_EXSTYLE));
    EXPECT_EQ(0u, style & WS_MINIMIZEBOX) << "the dialog has a minimise box";
    EXPECT_EQ(0u, style & WS_MAXIMIZEBOX) << "the dialog has a maximise box";
    EXPECT_EQ(0u, style & WS_THICKFRAME) << "the dialog can be resized";
    EXPECT_EQ(static_cast<DWORD>(WS_CAPTION), style & WS_CAPTION) << "the dialog has no caption";
    EXPECT_NE(0u, style & WS_SYSMENU) << "the dialog has no system menu (and so no close box)";
    EXPECT_NE(0u, exStyle & WS_EX_APPWINDOW) << "the dialog has no taskbar button";
    EXPECT_EQ(nullptr, GetWindow(dialog_, GW_OWNER)) << "the dialog has an owner";

    // The frame: a client area of 320 x 190 dialog units.
    RECT client{};
    GetClientRect(dialog_, &client);
    const std::optional<RECT> frame = TemplateToPixels(dialog_, {0, 0, 320, 190});
    ASSERT_TRUE(frame.has_value()) << "cannot convert dialog units to pixels";
    EXPECT_EQ(RectText(*frame), RectText(client)) << "the dialog's client area";

    struct Expected {
        int id;
        const wchar_t* className;
        const wchar_t* text; // at the start: the edit boxes are empty
        TemplateRect rect;
    };
    const Expected expected[] = {
        {kConvertId, L"Button", L"CONVERT", {134, 68, 50, 14}},
        {kDoneId, L"Button", L"DONE", {135, 166, 50, 16}},
        {kCommandId, L"Edit", L"", {7, 39, 306, 14}},
        {-1, L"Static", L"Enter Kestrane Server Command", {105, 17, 110, 8}},
        {-1, L"Static", L"QVN Result", {141, 99, 37, 8}},
        {kResultId, L"Edit", L"", {7, 112, 306, 43}},
    };
    const std::vector<HWND> children = ChildrenOf(dialog_);
    ASSERT_EQ(std::size(expected), children.size()) << "number of controls";
    for (std::size_t i = 0; i < children.size(); ++i) {
        const Expected& e = expected[i];
        const HWND child = children[i];
        SCOPED_TRACE("control " + std::to_string(i + 1) + ": " + Printable(e.className) + " \"" +
                     Printable(e.text) + "\"");
        EXPECT_EQ(e.id, static_cast<short>(GetDlgCtrlID(child))) << "id";
        EXPECT_EQ(0, _wcsicmp(e.className, ClassOf(child).c_str()))
            << "class: expected " << Printable(e.className) << ", actual "
            << Printable(ClassOf(child));
        EXPECT_EQ(e.text, TextOf(child)) << "text";
        EXPECT_TRUE(IsWindowVisible(child) && IsWindowEnabled(child)) << "visible and enabled";
        const std::optional<RECT> pixels = TemplateToPixels(dialog_, e.rect);
        ASSERT_TRUE(pixels.has_value());
        // No tolerance: the dialog manager places a control at exactly the
        // converted template numbers (see TemplateToPixels).
        EXPECT_EQ(RectText(*pixels), RectText(RectInClientOf(child, dialog_)))
            << "position and size in the dialog's client area, from " << e.rect.x << ", "
            << e.rect.y << ", " << e.rect.width << " x " << e.rect.height << " dialog units";
    }

    // The edit boxes: one line that does not scroll, and a read-only box.
    const auto commandStyle = static_cast<DWORD>(GetWindowLongW(command_, GWL_STYLE));
    const auto resultStyle = static_cast<DWORD>(GetWindowLongW(result_, GWL_STYLE));
    EXPECT_NE(0u, commandStyle & ES_MULTILINE) << "command box: multi-line";
    EXPECT_EQ(0u, commandStyle & (ES_AUTOHSCROLL | ES_AUTOVSCROLL)) << "command box: scrolls";
    EXPECT_EQ(0u, commandStyle & ES_READONLY) << "command box: read-only";
    EXPECT_NE(0u, resultStyle & ES_READONLY) << "result box: not read-only";
    EXPECT_NE(0u, resultStyle & ES_MULTILINE) << "result box: multi-line";

    // CONVERT is the default button.
    DWORD_PTR defaultId = 0;
    SendMessageTimeoutW(dialog_, DM_GETDEFID, 0, 0, SMTO_BLOCK, 5000, &defaultId);
    EXPECT_EQ(MAKELONG(kConvertId, DC_HASDEFID), static_cast<LONG>(defaultId)) << "DM_GETDEFID";

    // The first focus, then Tab around and past the end, then Shift+Tab back.
    ASSERT_TRUE(FocusComesTo(convert_)) << " (the first focus)";
    const Person person = AtDialog();
    for (HWND next : {done_, command_, result_, convert_, done_}) {
        ASSERT_TRUE(person.Press(VK_TAB));
        ASSERT_TRUE(FocusComesTo(next)) << " (after Tab)";
    }
    for (HWND previous : {convert_, result_}) {
        ASSERT_TRUE(person.PressUntil(VK_TAB, MOD_SHIFT, [&] { return Focus() == previous; }))
            << " (Shift+Tab: focus expected on " << Printable(Describe(previous)) << ", actual on "
            << Printable(Describe(Focus())) << ")";
    }

    ASSERT_TRUE(person.Press(VK_ESCAPE));
    EXPECT_TRUE(program_.EndsWithStatus(0)) << " (after Escape)";
}

TEST_F(VantrelDialog, TypedCommandIsTrimmedAndConvertedAndEnterOnDoneCloses) {
    ASSERT_TRUE(TypeCommand(L"  Set Mode 1  "));
    const Outcome setMode{L"Set Mode 1",
                          L"F0 00 00 40 02 00 00 61 0a 53 65 74 20 4d 6f 64 65 20 31 F7"};
    ASSERT_NO_FATAL_FAILURE(ConvertAndCheck(Trigger::kEnter, &setMode));

    // A second command in the same dialog, converted with a click.
    ASSERT_TRUE(TypeCommand(L"set x"));
    const Outcome setX{L"set x", L"F0 00 00 40 02 00 00 61 05 73 65 74 20 78 F7"};
    ASSERT_NO_FATAL_FAILURE(ConvertAndCheck(Trigger::kClickConvert, &setX));

    // Enter with the focus in the result box converts too.
    ASSERT_TRUE(TypeCommand(L"set y"));
    ASSERT_TRUE(AtDialog().Click(result_));
    ASSERT_TRUE(FocusComesTo(result_)) << " (after a click into the result box)";
    const Outcome setY{L"set y", L"F0 00 00 40 02 00 00 61 05 73 65 74 20 79 F7"};
    ASSERT_NO_FATAL_FAILURE(ConvertAndCheck(Trigger::kEnter, &setY));

    // Enter with the focus on DONE ends the program; the dialog is still
    // there until then, showing the last conversion.
    ASSERT_TRUE(TabTo(done_));
    ASSERT_TRUE(program_.IsRunning()) << "the dialog closed after converting";
    EXPECT_EQ(setY.result, TextOf(result_));
    ASSERT_TRUE(AtDialog().Press(VK_RETURN));
    EXPECT_TRUE(program_.EndsWithStatus(0)) << " (after Enter on DONE)";
}

TEST_F(VantrelDialog, RefusedCommandsShowTheComplaintVerbatim) {
    ASSERT_TRUE(TypeCommand(L"go 1"));
    const Outcome go{L"go 1", L"\"go 1" + kRefusalEnd};
    ASSERT_NO_FATAL_FAILURE(ConvertAndCheck(Trigger::kEnter, &go));

    // Quotes, percent signs and a backslash: a complaint built by printf or
    // with escaping would show them changed.
    ASSERT_TRUE(TypeCommand(L"  go \"100%\" %s %d %n %% \\ 'x'  "));
    ASSERT_NO_FATAL_FAILURE(ConvertAndCheck(Trigger::kEnter));

    // White space only: the complaint of the empty command.
    ASSERT_TRUE(TypeCommand(L"   "));
    const Outcome blank{L"", L"\"" + kRefusalEnd};
    ASSERT_NO_FATAL_FAILURE(ConvertAndCheck(Trigger::kEnter, &blank));

    // The keyword needs its space, and trimming takes a trailing one away.
    ASSERT_TRUE(TypeCommand(L"SET "));
    const Outcome bareKeyword{L"SET", L"\"SET" + kRefusalEnd};
    ASSERT_NO_FATAL_FAILURE(ConvertAndCheck(Trigger::kClickConvert, &bareKeyword));

    // Line breaks inside a refused command stay in the complaint; those at
    // the ends are trimmed.
    ASSERT_TRUE(SetCommandText(L"\r\ngo 1\r\nset 2\r\n"));
    const Outcome lines{L"go 1\r\nset 2", L"\"go 1\r\nset 2" + kRefusalEnd};
    ASSERT_NO_FATAL_FAILURE(ConvertAndCheck(Trigger::kClickConvert, &lines));

    // In an accepted command a line break is two code units like any other.
    ASSERT_TRUE(SetCommandText(L"set a\r\nb"));
    const Outcome accepted{L"set a\r\nb", L"F0 00 00 40 02 00 00 61 08 73 65 74 20 61 0d 0a 62 F7"};
    ASSERT_NO_FATAL_FAILURE(ConvertAndCheck(Trigger::kClickConvert, &accepted));

    // The empty command, converted with a click.
    ASSERT_TRUE(ClearCommandBox());
    ASSERT_NO_FATAL_FAILURE(ConvertAndCheck(Trigger::kClickConvert, &blank));

    // The caption's close box ends the program. Where a window manager
    // draws the caption (Wine hands the caption of a dialog to it) and none
    // runs, as on a bare X server, the close box is not on the screen: the
    // point belongs to no window, and the close box's own command,
    // WM_SYSCOMMAND SC_CLOSE, stands in for the click.
    const std::optional<POINT> closeBox = CloseButtonCentre(dialog_);
    ASSERT_TRUE(closeBox.has_value()) << "no point of the caption is the close box (HTCLOSE)";
    if (WindowFromPoint(*closeBox) == dialog_) {
        ASSERT_TRUE(AtDialog().ClickAt(*closeBox));
    } else {
        std::printf("The close box is not on the screen (no window manager draws the caption); "
                    "sending its command instead of a click.\n");
        PostMessageW(dialog_, WM_SYSCOMMAND, SC_CLOSE, 0);
    }
    EXPECT_TRUE(program_.EndsWithStatus(0)) << " (after the close box)";
}

TEST_F(VantrelDialog, CharactersBeyondLatin1AreConvertedAsCodeUnits) {
    // The euro sign is one unit above U+00FF; the grinning face, outside
    // the Basic Multilingual Plane, is a surrogate pair.
    ASSERT_TRUE(TypeCommand(L"set \u20AC \U0001F600 \u00FC\u03A9"));
    const Outcome symbols{L"set \u20AC \U0001F600 \u00FC\u03A9",
                          L"F0 00 00 40 02 00 00 61 0b 73 65 74 20 20ac 20 d83d de00 20 fc 3a9 F7"};
    ASSERT_NO_FATAL_FAILURE(ConvertAndCheck(Trigger::kEnter, &symbols));

    // A long s is not the letter s: the command is refused and the
    // complaint shows every character as typed.
    ASSERT_TRUE(TypeCommand(L"\u017Fet \u20AC\U0001F600"));
    const Outcome longS{L"\u017Fet \u20AC\U0001F600", L"\"\u017Fet \u20AC\U0001F600" + kRefusalEnd};
    ASSERT_NO_FATAL_FAILURE(ConvertAndCheck(Trigger::kEnter, &longS));

    // White space beyond ASCII (ideographic space, no-break space) is
    // trimmed too.
    ASSERT_TRUE(TypeCommand(L"\u3000set \u00E9\u00A0"));
    ASSERT_NO_FATAL_FAILURE(ConvertAndCheck(Trigger::kClickConvert));

    // Escape while typing in the command box ends the program.
    ASSERT_TRUE(AtDialog().Click(command_));
    ASSERT_TRUE(FocusComesTo(command_));
    ASSERT_TRUE(AtDialog().Press(VK_ESCAPE));
    EXPECT_TRUE(program_.EndsWithStatus(0)) << " (after Escape in the command box)";
}

TEST_F(VantrelDialog, PastedCommandConvertsAndResultCanBeCopiedButNotChanged) {
    const Person person = AtDialog();
    const std::wstring pasted = L" set pasted \"x\" 100% \u20AC\U0001F600 ";
    ASSERT_TRUE(SetClipboardText(pasted));
    ASSERT_TRUE(ClearCommandBox());
    // The text set by the driver may reach the program a moment later;
    // PressUntil waits for it to arrive in the box.
    EXPECT_TRUE(person.PressUntil('V', MOD_CONTROL, [&] { return TextOf(command_) == pasted; }));
    ASSERT_TRUE(CommandBoxShows(pasted)) << " (after Ctrl+V)";
    ASSERT_NO_FATAL_FAILURE(ConvertAndCheck(Trigger::kEnter));
    const std::wstring result = TextOf(result_);

    // Typing, deleting, cutting and pasting over the whole selected result
    // change nothing. Ctrl+End then moves the caret to the end; when the
    // caret is there, every key before it has been handled.
    ASSERT_TRUE(person.Click(result_));
    ASSERT_TRUE(FocusComesTo(result_)) << " (after a click into the result box)";
    ASSERT_TRUE(SelectAllWithKeyboard(result_));
    ASSERT_TRUE(person.Type(L"typed"));
    ASSERT_TRUE(person.Press(VK_BACK));
    ASSERT_TRUE(person.Press(VK_DELETE));
    ASSERT_TRUE(person.Press('X', MOD_CONTROL));
    ASSERT_TRUE(person.Press('V', MOD_CONTROL));
    const auto caretAtEnd = [&] {
        const auto length = static_cast<DWORD>(TextOf(result_).size());
        return SelectionOf(result_) == Selection{length, length};
    };
    EXPECT_TRUE(person.PressUntil(VK_END, MOD_CONTROL, caretAtEnd))
        << " (Ctrl+End: the caret did not go to the end of the result box)";
    EXPECT_EQ(result, TextOf(result_)) << "the result box changed under the keyboard";

    // Selected with the keyboard and copied with Ctrl+C, the clipboard
    // holds exactly the result. The clipboard is watched through its
    // sequence number, without opening it: while the driver held it open,
    // the program's copy would fail.
    ASSERT_TRUE(SelectAllWithKeyboard(result_));
    ASSERT_TRUE(SetClipboardText(L"(the clipboard before Ctrl+C)"));
    const DWORD sequence = GetClipboardSequenceNumber();
    EXPECT_TRUE(person.PressUntil('C', MOD_CONTROL, [&] {
        return GetClipboardSequenceNumber() != sequence;
    })) << " (Ctrl+C in the result box did not change the clipboard)";
    EXPECT_EQ(result, ClipboardText().value_or(L"(no text)")) << "the clipboard after Ctrl+C";

    // Space on DONE, like a click on it, ends the program.
    ASSERT_TRUE(TabTo(done_));
    ASSERT_TRUE(person.Press(VK_SPACE));
    EXPECT_TRUE(program_.EndsWithStatus(0)) << " (after Space on DONE)";
}

TEST_F(VantrelDialog, CommandBoxRefusesTypingPastItsLineAndConvertsWhatItHolds) {
    const Person person = AtDialog();
    const std::wstring typed = L"set " + std::wstring(150, L'A');
    ASSERT_TRUE(ClearCommandBox());
    ASSERT_TRUE(person.Type(typed));
    // Shift+Home selects the line; when it is selected, every key typed
    // before has been handled.
    const auto lineSelected = [&] {
        const Selection selection = SelectionOf(command_);
        return selection.start == 0 && selection.end > 0 &&
               selection.end == TextOf(command_).size();
    };
    ASSERT_TRUE(person.PressUntil(VK_HOME, MOD_SHIFT, lineSelected))
        << " (Shift+Home did not select the command)";
    const std::wstring held = TextOf(command_);
    std::printf("The command box took %zu of %zu typed units.\n", held.size(), typed.size());
    EXPECT_LT(held.size(), typed.size()) << "the command box took every key";
    EXPECT_GE(held.size(), 24u) << "the command box holds less than one line";
    EXPECT_EQ(typed.substr(0, held.size()), held) << "the box holds other than the typed start";

    // More keys at the end are refused too.
    const auto caretAtEnd = [&] {
        const auto length = static_cast<DWORD>(TextOf(command_).size());
        return SelectionOf(command_) == Selection{length, length};
    };
    ASSERT_TRUE(person.Press(VK_END));
    ASSERT_TRUE(WaitUntil(caretAtEnd)) << "End did not move the caret to the end";
    ASSERT_TRUE(person.Type(L"BBBBB"));
    ASSERT_TRUE(person.PressUntil(VK_HOME, MOD_SHIFT, lineSelected))
        << " (Shift+Home did not select the command)";
    EXPECT_EQ(held, TextOf(command_)) << "the full command box took more keys";

    // What the box holds converts whole.
    ASSERT_TRUE(person.Press(VK_END));
    ASSERT_TRUE(WaitUntil(caretAtEnd)) << "End did not move the caret to the end";
    ASSERT_NO_FATAL_FAILURE(ConvertAndCheck(Trigger::kEnter));

    ASSERT_TRUE(person.Press(VK_ESCAPE));
    EXPECT_TRUE(program_.EndsWithStatus(0)) << " (after Escape)";
}

TEST_F(VantrelDialog, F1ShowsUsageInAMessageBoxThatEnterCloses) {
    ASSERT_TRUE(FocusComesTo(convert_)) << " (the first focus)";
    ASSERT_TRUE(TypeCommand(L"set kept"));
    // F1 from a button and from the command box.
    for (HWND from : {convert_, command_}) {
        SCOPED_TRACE("F1 with the focus on " + Printable(Describe(from)));
        if (from == convert_) {
            ASSERT_TRUE(TabTo(convert_));
        } else {
            ASSERT_TRUE(AtDialog().Click(command_));
            ASSERT_TRUE(FocusComesTo(command_));
        }
        ASSERT_TRUE(AtDialog().Press(VK_F1));
        HWND box = nullptr;
        const bool shown = WaitUntil([&] {
            for (HWND window : DialogsOfProcess(program_.ProcessId())) {
                if (window != dialog_) {
                    box = window;
                    return true;
                }
            }
            return false;
        });
        ASSERT_TRUE(shown) << "F1 showed no message box (another #32770 window of the program)";
        EXPECT_EQ(L"Vantrel", TextOf(box)) << "the message box's caption";
        std::wstring usage;
        for (HWND child : ChildrenOf(box)) {
            if (_wcsicmp(ClassOf(child).c_str(), L"Static") == 0) {
                usage += TextOf(child);
            }
        }
        EXPECT_GE(usage.size(), 10u)
            << "the message box shows no usage text: \"" << Printable(usage) << "\"";
        std::printf("F1 shows: %s\n", Printable(usage).c_str());

        ASSERT_TRUE(Person(box).Press(VK_RETURN));
        EXPECT_TRUE(WaitUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); }))
            << "Enter did not close the message box";
        ASSERT_TRUE(program_.IsRunning()) << "the program ended with the message box";
        EXPECT_TRUE(IsWindowVisible(dialog_)) << "the dialog is gone";
        EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(dialog_) != 0; }))
            << "the dialog stays disabled after the message box";
        EXPECT_EQ(L"set kept", TextOf(command_));
    }

    ASSERT_TRUE(AtDialog().Click(done_));
    EXPECT_TRUE(program_.EndsWithStatus(0)) << " (after a click on DONE)";
}

} // namespace
} // namespace blackbox
