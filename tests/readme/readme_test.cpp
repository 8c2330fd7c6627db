// The README and the manual pages against the programs they describe: the key table the window
// dispatches from, and the commands and options vantrec-tool's --help lists.
#include <gtest/gtest.h>

#include <QApplication>
#include <QRegularExpression>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "app/review/keypanel.h"
#include "app/review/keys.h"
#include "tests/common/testutil.h"
#include "tests/readme/keytable_markdown.h"

// fontconfig keeps its caches until the process ends; the key panel's text layout loads them.
extern "C" const char *__lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {

using vt::app::review::KeyHelpLines;
using vt::app::review::KeyTable;

std::string ReadText(const std::string &relative) {
    std::ifstream in(std::string(VT_SOURCE_DIR) + "/" + relative, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// A manual page as words: the escapes that keep groff from hyphenating or changing fonts gone.
std::string ManPageText(const std::string &relative) {
    QString t = QString::fromStdString(ReadText(relative));
    t.replace(QLatin1String("\\-"), QLatin1String("-"));
    t.remove(QRegularExpression(QStringLiteral("\\\\f[BIRP]")));
    t.remove(QStringLiteral("\\&"));
    return t.toStdString();
}

// The part of the README between the key-table marks.
std::string ReadmeKeyTable() {
    const std::string readme = ReadText("README.md");
    const std::string begin = "<!-- key table: begin -->\n", end = "<!-- key table: end -->";
    const size_t b = readme.find(begin), e = readme.find(end);
    if (b == std::string::npos || e == std::string::npos || e < b) return {};
    return readme.substr(b + begin.size(), e - b - begin.size());
}

// Whether `word` stands alone in `text`: "--to" must not be found inside "--total".
bool HasWord(const std::string &text, const std::string &word) {
    const QRegularExpression re(QStringLiteral("(?<![\\w-])") +
                                QRegularExpression::escape(QString::fromStdString(word)) +
                                QStringLiteral("(?![\\w-])"));
    return re.match(QString::fromStdString(text)).hasMatch();
}

void StartQt() {
    if (QApplication::instance() != nullptr) return;
    static int argc = 1;
    static char name[] = "readme_tests";
    static char *argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QApplication(argc, argv);
}

// vantrec-tool's commands and every option its --help names, e.g. {"export", {"--from", "-o"}}.
struct ToolHelp {
    std::set<std::string> commands;
    std::set<std::string> options;
};

ToolHelp ParseToolHelp(const std::string &help) {
    ToolHelp h;
    std::istringstream lines(help);
    std::string line;
    bool in_commands = false;
    static const QRegularExpression option(QStringLiteral("(?<![\\w-])(--?[a-z][a-z-]*)"));
    while (std::getline(lines, line)) {
        if (line == "commands:") {
            in_commands = true;
            continue;
        }
        if (!in_commands || line.rfind("  ", 0) != 0) continue;
        std::istringstream words(line);
        std::string command;
        words >> command;
        h.commands.insert(command);
        auto it = option.globalMatch(QString::fromStdString(line));
        while (it.hasNext()) h.options.insert(it.next().captured(1).toStdString());
    }
    return h;
}

TEST(ReadmeKeys, TheTableIsTheOneMadeFromTheKeyTable) {
    const std::string table = ReadmeKeyTable();
    ASSERT_FALSE(table.empty()) << "README.md has no key-table marks";
    EXPECT_EQ(table, vt::readme::KeyTableMarkdown().toStdString())
        << "the README's key table is out of date: paste the output of readme_keys between its "
           "marks";
}

TEST(ReadmeKeys, EveryKeyIsInTheReadmeAndOnThePanel) {
    StartQt();
    const std::string table = ReadmeKeyTable();
    const QStringList lines = KeyHelpLines();
    vt::app::review::CKeyPanel panel;
    ASSERT_EQ(lines.size(), KeyTable().size());
    ASSERT_EQ(panel.Rows(), KeyTable().size());
    std::set<std::string> panel_keys;
    for (int i = 0; i < panel.Rows(); ++i) panel_keys.insert(panel.KeyAt(i).toStdString());
    for (int i = 0; i < KeyTable().size(); ++i) {
        const std::string key = KeyTable()[i].key_text;
        EXPECT_NE(table.find("| `" + key + "` | " + KeyTable()[i].help + " |"), std::string::npos)
            << key << " is missing from the README";
        EXPECT_TRUE(lines[i].startsWith(QString::fromStdString(key) + QLatin1Char('\t'))) << key;
        EXPECT_TRUE(panel_keys.count(key)) << key << " is missing from the key panel";
    }
    // The keys a driver needs most are there at all: a table emptied by mistake must not pass.
    for (const char *key : {"Space", ".", ",", "N", "P", "F", "Ctrl+M", "F1"})
        EXPECT_TRUE(panel_keys.count(key)) << key;
}

TEST(ReadmeTool, EveryCommandAndOptionIsDescribed) {
    std::string help;
    ASSERT_EQ(vt::test::Run(vt::test::Quote(vt::test::ToolPath().string()) + " --help", &help), 0);
    const ToolHelp h = ParseToolHelp(help);
    // A parser that finds nothing would make the checks below pass on any README.
    ASSERT_GE(h.commands.size(), 10u) << help;
    for (const char *known : {"--from", "--reference", "--sidecars", "--trace", "-o", "--format"})
        ASSERT_TRUE(h.options.count(known)) << known << " not found in\n" << help;

    const std::string readme = ReadText("README.md");
    const std::string man = ManPageText("packaging/vantrec-tool.1");
    ASSERT_FALSE(man.empty());
    for (const std::string &c : h.commands) {
        EXPECT_NE(readme.find("`" + c + " "), std::string::npos) << "README: command " << c;
        EXPECT_NE(man.find(c), std::string::npos) << "vantrec-tool.1: command " << c;
    }
    for (const std::string &o : h.options) {
        EXPECT_TRUE(HasWord(readme, o)) << "README: option " << o;
        EXPECT_TRUE(HasWord(man, o)) << "vantrec-tool.1: option " << o;
    }
}

TEST(ReadmeTool, HelpParsingFindsOptionsNotTheirValues) {
    const ToolHelp h = ParseToolHelp(
        "usage: x\ncommands:\n  cut IN --from MS -o OUT.mp4 [--keep-all] [--format csv|json]\n  "
        "info FILE\n");
    EXPECT_EQ(h.commands, (std::set<std::string>{"cut", "info"}));
    EXPECT_EQ(h.options, (std::set<std::string>{"--from", "-o", "--keep-all", "--format"}));
}

TEST(ReadmeImages, EveryPictureTheReadmeShowsIsSmallAndThere) {
    const std::string readme = ReadText("README.md");
    static const QRegularExpression image(QStringLiteral("!\\[[^\\]]*\\]\\((docs/[^)]+\\.png)\\)"));
    auto it = image.globalMatch(QString::fromStdString(readme));
    int count = 0;
    while (it.hasNext()) {
        const std::string path = it.next().captured(1).toStdString();
        const std::vector<uint8_t> bytes =
            vt::test::ReadFileBytes(std::string(VT_SOURCE_DIR) + "/" + path);
        ASSERT_GE(bytes.size(), 8u) << path << " is missing";
        EXPECT_EQ(bytes[1], 'P') << path << " is not a PNG";
        EXPECT_LT(bytes.size(), 200u * 1024) << path;
        ++count;
    }
    EXPECT_GE(count, 4);
}

}  // namespace
