// Texts of the small dialogs and the program folder.
#include "dialog_texts.h"

#include <gtest/gtest.h>

namespace tlx {
namespace {

TEST(WindowTitle, AdministratorWhenElevated) {
    EXPECT_EQ(windowTitle(false), L"Plinthos");
    EXPECT_EQ(windowTitle(true), L"Plinthos (Administrator)");
}

TEST(AboutContent, QorinSentenceOnlyWhenPresent) {
    const std::wstring with = aboutContent(L"C:\\Program Files\\Plinthos", true);
    const std::wstring without = aboutContent(L"C:\\Program Files\\Plinthos", false);
    const std::wstring sentence = L"Includes qorin, the command-line tool (Tools > Command-Line Tool): <a "
                                  L"href=\"C:\\Program Files\\Plinthos\">open its folder</a>.\n\n";
    EXPECT_NE(with.find(sentence), std::wstring::npos);
    EXPECT_EQ(without.find(L"Includes qorin"), std::wstring::npos);
    EXPECT_EQ(with.size(), without.size() + sentence.size());
    EXPECT_EQ(without.rfind(L"What it changes: ", 0), 0u);
    // The last line: two links four spaces apart.
    EXPECT_NE(with.find(L"</a>    <a href=\"mailto:"), std::wstring::npos);
    EXPECT_LT(with.find(sentence), with.find(L"mailto:"));
}

TEST(CommandLineToolContent, PresentOrMissing) {
    EXPECT_EQ(commandLineToolContent(L"C:\\Tools", false),
              L"qorin.exe should be in C:\\Tools, but it isn't there. Reinstall the program to restore it.");
    const std::wstring present = commandLineToolContent(L"C:\\Tools", true);
    EXPECT_EQ(present.rfind(L"It does everything this window does", 0), 0u);
    EXPECT_NE(present.find(L"keep working.\n\nC:\\Tools\\qorin.exe"), std::wstring::npos);
    EXPECT_EQ(commandPromptParameters(L"C:\\My Tools"), L"/k cd /d \"C:\\My Tools\" & qorin help");
}

TEST(ProgramFolderOf, DropsFileNameAndTrailingSlashes) {
    EXPECT_EQ(programFolderOf(L"C:\\Program Files\\Plinthos\\Dravik.exe"), L"C:\\Program Files\\Plinthos");
    EXPECT_EQ(programFolderOf(L"C:\\Tools\\\\/Dravik.exe"), L"C:\\Tools");
    EXPECT_EQ(programFolderOf(L"Dravik.exe"), L"");
}

TEST(WhatIsContent, FiveParagraphs) {
    const std::wstring text = whatIsContent();
    std::size_t breaks = 0;
    for (std::size_t at = text.find(L"\n\n"); at != std::wstring::npos; at = text.find(L"\n\n", at + 2)) ++breaks;
    EXPECT_EQ(breaks, 4u);
    EXPECT_EQ(text.rfind(L"A short ID Windows assigns", 0), 0u);
    EXPECT_TRUE(text.ends_with(L"Unlock them first."));
}

// Only the About box shows links, and a click opens only what the program computed itself.
TEST(DialogTexts, AboutLinksAreTheProgramsOwn) {
    const std::vector<std::wstring> withConsole = aboutLinks(L"C:\\Program Files\\Plinthos", true);
    EXPECT_EQ(withConsole, (std::vector<std::wstring>{kWebSite, L"mailto:" + std::wstring(kSupportAddress),
                                                      L"C:\\Program Files\\Plinthos"}));
    EXPECT_EQ(aboutLinks(L"C:\\P", false).size(), 2u);
    for (const std::wstring& link : withConsole)
        EXPECT_NE(aboutContent(L"C:\\Program Files\\Plinthos", true).find(L"<a href=\"" + link + L"\">"),
                  std::wstring::npos);
}

TEST(DialogTexts, TextFromOutsideStartsNoLink) {
    EXPECT_EQ(withoutMarkup(L"<A HREF=\"cmd.exe\">x</A>"), L"\uFF1CA HREF=\"cmd.exe\">x\uFF1C/A>");
    EXPECT_EQ(withoutMarkup(L"E:\\ plain > text"), L"E:\\ plain > text");
    const std::wstring about = aboutContent(L"C:\\<a href=\"x\">", true);
    EXPECT_EQ(about.find(L"<a href=\"x\">"), std::wstring::npos);
}

}  // namespace
}  // namespace tlx
