#include "dialog_test_support.h"
#include "planted_files.h"

#include <commdlg.h>

#include <gmock/gmock.h>

#include <cwchar>

using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

// The video file request of the setup path.
struct SaveRequest {
    wchar_t file[260] = L"vid.avi";
    wchar_t title[64] = {};
    OPENFILENAMEW ofn{};

    explicit SaveRequest(DWORD size = 260)
    {
        ofn.lStructSize = sizeof ofn;
        ofn.lpstrTitle = L"Save video file as";
        ofn.lpstrFilter = L"Video file (*.avi)\0*.avi\0\0";
        ofn.lpstrFile = file;
        ofn.nMaxFile = size;
        ofn.lpstrDefExt = L"avi";
        ofn.lpstrFileTitle = title;
        ofn.nMaxFileTitle = 64;
        ofn.Flags = OFN_OVERWRITEPROMPT;
    }
};

using SaveFileTest = HeadlessDialogTest;

TEST_F(SaveFileTest, WithoutAnAnswerTheProposedNameIsTaken)
{
    SaveRequest r;
    ASSERT_TRUE(GetSaveFileNameW(&r.ofn));
    EXPECT_STREQ(r.file, L"vid.avi");
    EXPECT_STREQ(r.title, L"vid.avi");
    EXPECT_EQ(r.ofn.nFileOffset, 0);
    EXPECT_EQ(r.ofn.nFileExtension, 4);
    EXPECT_THAT(transcript(), ElementsAre("save vid.avi"));
}

TEST_F(SaveFileTest, TheScriptAnswersAndTheDefaultExtensionIsAdded)
{
    platform::setDialogScript("save /tmp/clips/take.one/run; save /tmp/clips/run2.mkv; cancel");
    SaveRequest first;
    ASSERT_TRUE(GetSaveFileNameW(&first.ofn));
    EXPECT_STREQ(first.file, L"/tmp/clips/take.one/run.avi") << "a dot in a folder name is no extension";
    EXPECT_EQ(first.ofn.nFileOffset, 20);
    EXPECT_EQ(first.ofn.nFileExtension, 24);
    EXPECT_STREQ(first.title, L"run.avi");

    SaveRequest second;
    ASSERT_TRUE(GetSaveFileNameW(&second.ofn));
    EXPECT_STREQ(second.file, L"/tmp/clips/run2.mkv");

    SaveRequest third;
    EXPECT_FALSE(GetSaveFileNameW(&third.ofn));
    EXPECT_EQ(CommDlgExtendedError(), 0u) << "a cancel is no error";
    EXPECT_STREQ(third.file, L"vid.avi");
}

TEST_F(SaveFileTest, OtherActionsStayForTheNextDialog)
{
    platform::setDialogScript("press 101");
    SaveRequest r;
    EXPECT_TRUE(GetSaveFileNameW(&r.ofn));
    EXPECT_THAT(platform::pendingDialogActions(), ElementsAre("press 101"));
}

// A link or FIFO is refused when chosen, not after the user confirmed it.
TEST_F(SaveFileTest, LinksAndFifosAreRefused)
{
    const std::filesystem::path folder = std::filesystem::current_path() / "planted_choices";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    testsupport::plantLink(folder / "link.avi");
    mkfifo((folder / "fifo.avi").c_str(), 0644);
    for (const char* name : {"link.avi", "fifo.avi"}) {
        platform::setDialogScript(("save " + (folder / name).string()).c_str());
        SaveRequest r;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(GetSaveFileNameW(&r.ofn)) << name;
        testing::internal::GetCapturedStderr();
    }
    std::filesystem::remove_all(folder);
}

TEST_F(SaveFileTest, BadRequestsFailWithoutWritingPastTheBuffer)
{
    SaveRequest wrongSize;
    wrongSize.ofn.lStructSize = 12;
    EXPECT_FALSE(GetSaveFileNameW(&wrongSize.ofn));
    EXPECT_EQ(CommDlgExtendedError(), DWORD(CDERR_STRUCTSIZE));

    // The answer needs 23 characters; the buffer says it holds 8.
    platform::setDialogScript("save /tmp/a/long/name/x.avi");
    SaveRequest small(8);
    std::wmemset(small.file + 8, L'#', 10);
    EXPECT_FALSE(GetSaveFileNameW(&small.ofn));
    EXPECT_EQ(CommDlgExtendedError(), DWORD(FNERR_BUFFERTOOSMALL));
    EXPECT_EQ(small.file[0], wchar_t(23)) << "the size it needs";
    EXPECT_EQ(small.file[8], L'#');

    // A proposal that is not terminated within nMaxFile is read no further.
    SaveRequest unterminated(4);
    std::wmemcpy(unterminated.file, L"abcdefgh", 8);
    EXPECT_FALSE(GetSaveFileNameW(&unterminated.ofn)) << "abcd.avi does not fit in 4";
    EXPECT_EQ(CommDlgExtendedError(), DWORD(FNERR_BUFFERTOOSMALL));

    SaveRequest empty;
    empty.file[0] = 0;
    EXPECT_FALSE(GetSaveFileNameW(&empty.ofn)) << "nothing proposed and nothing answered";

    testing::internal::CaptureStderr();
    platform::setDialogScript("save   ");
    SaveRequest noPath;
    EXPECT_FALSE(GetSaveFileNameW(&noPath.ofn));
    EXPECT_THAT(testing::internal::GetCapturedStderr(), HasSubstr("a path is missing"));
    EXPECT_FALSE(GetSaveFileNameW(nullptr));
}

TEST_F(SaveFileTest, AnswersTheChooserOpenedFromADialog)
{
    platform::setDialogScript("select 129 1; press 100; save capture.avi");
    RecordingDialog d;
    std::wstring chosen;
    d.handler = [&](RecordingDialog& self, UINT message, WPARAM wParam, LPARAM lParam) -> INT_PTR {
        if (message == WM_INITDIALOG) {
            for (const char* item : {"(none)", "Motion JPEG"})
                SendDlgItemMessageA(self.handle, 129, CB_ADDSTRING, 0, (LPARAM)item);
            SendDlgItemMessageA(self.handle, 129, CB_SETCURSEL, 0, 0);
            return TRUE;
        }
        if (message == WM_COMMAND && LOWORD(wParam) == 100 &&
            SendDlgItemMessageA(self.handle, 129, CB_GETCURSEL, 0, 0) == 1) {
            SaveRequest r;
            r.ofn.hwndOwner = self.handle;
            if (GetSaveFileNameW(&r.ofn))
                chosen = r.file;
        }
        return RecordingDialog::startDialogAnswers(self, message, wParam, lParam);
    };
    EXPECT_EQ(d.run("SETUP"), 0);
    EXPECT_EQ(chosen, L"capture.avi");
    EXPECT_THAT(transcript(), ElementsAre("open SETUP", "select 129 1", "press 100", "save capture.avi", "end SETUP 0"));
}

using PromptTest = HeadlessDialogTest;

TEST_F(PromptTest, ProposesFrameAndShowsTitleAndText)
{
    std::string caption, label, edit;
    platform::setDialogObserver([&](HWND dialog) {
        char text[128];
        GetWindowTextA(dialog, text, sizeof text);
        caption = text;
        GetDlgItemTextA(dialog, platform::kTextPromptLabel, text, sizeof text);
        label = text;
        GetDlgItemTextA(dialog, platform::kTextPromptEdit, text, sizeof text);
        edit = text;
    });
    char prefix[32] = "";
    ASSERT_TRUE(platform::promptText("Prefix for BMP image sequence", "Enter prefix for BMP image sequence", prefix,
                                     sizeof prefix));
    EXPECT_STREQ(prefix, "frame");
    EXPECT_EQ(caption, "Prefix for BMP image sequence");
    EXPECT_EQ(label, "Enter prefix for BMP image sequence");
    EXPECT_EQ(edit, "frame");
}

TEST_F(PromptTest, ScriptTypesTheAnswerOrCancels)
{
    platform::setDialogScript("text 1001 shots/take_one; press 1; close");
    char prefix[32] = "keep";
    ASSERT_TRUE(platform::promptText("t", "x", prefix, sizeof prefix));
    EXPECT_STREQ(prefix, "shots/take_one");

    char kept[16] = "before";
    EXPECT_FALSE(platform::promptText("t", "x", kept, sizeof kept));
    EXPECT_STREQ(kept, "before") << "a cancelled prompt leaves the buffer alone";
}

TEST_F(PromptTest, TheAnswerIsCutToTheBuffer)
{
    platform::setDialogScript("text 1001 abcdefghijklmnop");
    char prefix[6] = "";
    ASSERT_TRUE(platform::promptText("t", "x", prefix, sizeof prefix));
    EXPECT_STREQ(prefix, "abcde");
    EXPECT_FALSE(platform::promptText("t", "x", nullptr, 10));
}

} // namespace
