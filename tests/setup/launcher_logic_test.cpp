// The launcher's decisions: installer and help paths from the launcher's own
// path and the system language, and the hoverState transitions.
#include "setup/launcher_logic.h"

#include <gtest/gtest.h>

namespace fd::setup {
namespace {

TEST(LauncherPaths, InstallerLiesBesideTheLauncher) {
    struct Case {
        const wchar_t* launcher;
        const wchar_t* installer;
    } cases[] = {
        {L"C:\\pkg\\setup.exe", L"C:\\pkg\\english\\setup.exe"},
        {L"D:\\setup.exe", L"D:\\english\\setup.exe"},
        {L"\\\\server\\share\\flash decode\\setup.exe",
         L"\\\\server\\share\\flash decode\\english\\setup.exe"},
        {L"C:\\\x4E2D\x6587\\setup.exe", L"C:\\\x4E2D\x6587\\english\\setup.exe"},
        {L"setup.exe", L"english\\setup.exe"},  // no folder at all: relative to the current one
    };
    for (const auto& c : cases) EXPECT_EQ(InstallerPath(c.launcher), c.installer) << c.launcher;
}

TEST(LauncherPaths, HelpFolderFollowsTheSystemLanguage) {
    struct Case {
        uint16_t language;
        const wchar_t* folder;
    } cases[] = {
        {0x0409, L"C:\\pkg\\HELP\\EN\\"},
        {0x0804, L"C:\\pkg\\HELP\\SI\\"},
        {0x0404, L"C:\\pkg\\HELP\\TR\\"},
        // Other languages, including other English and Chinese variants, open
        // the launcher's own folder.
        {0x0809, L"C:\\pkg\\"},
        {0x0C04, L"C:\\pkg\\"},
        {0x0407, L"C:\\pkg\\"},
        {0x0000, L"C:\\pkg\\"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HelpFolderPath(L"C:\\pkg\\setup.exe", c.language), c.folder) << c.language;
}

TEST(HoverState, FollowsTheMouse) {
    struct Case {
        const char* event;
        HoverChange (*handler)(int32_t);
        int32_t before;
        int32_t after;
        bool repaint;
    } cases[] = {
        {"enter from idle", OnButtonMouseMove, kHoverIdle, kHoverOver, true},
        {"move while over", OnButtonMouseMove, kHoverOver, kHoverOver, false},
        {"move while held", OnButtonMouseMove, kHoverPressed, kHoverPressed, false},
        {"press from over", OnButtonPressed, kHoverOver, kHoverPressed, true},
        {"press from idle", OnButtonPressed, kHoverIdle, kHoverPressed, true},
        {"release", OnButtonReleased, kHoverPressed, kHoverOver, true},
        {"background, over", OnBackgroundMouseMove, kHoverOver, kHoverIdle, true},
        {"background, held", OnBackgroundMouseMove, kHoverPressed, kHoverIdle, true},
        {"background, idle", OnBackgroundMouseMove, kHoverIdle, kHoverIdle, false},
        {"enter from a stray value", OnButtonMouseMove, 0, kHoverOver, true},
    };
    for (const auto& c : cases) {
        HoverChange got = c.handler(c.before);
        EXPECT_EQ(got.state, c.after) << c.event;
        EXPECT_EQ(got.repaint, c.repaint) << c.event;
    }
}

TEST(HoverState, ChoosesThePicture) {
    EXPECT_EQ(PictureFor(kHoverIdle), ButtonPicture::Normal);
    EXPECT_EQ(PictureFor(kHoverOver), ButtonPicture::Focused);
    EXPECT_EQ(PictureFor(kHoverPressed), ButtonPicture::Selected);
    EXPECT_EQ(PictureFor(0), ButtonPicture::Normal);
    EXPECT_EQ(PictureFor(-7), ButtonPicture::Normal);
}

}  // namespace
}  // namespace fd::setup
