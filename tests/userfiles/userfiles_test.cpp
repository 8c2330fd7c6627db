// Where the program's files go, what settings.ini gives, and the remembered-folder files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <cmath>
#include <filesystem>
#include <optional>
#include <string>

#include "app/userfiles/userfiles.h"
#include "tests/common/testutil.h"

namespace vt::test {
namespace {

namespace fs = std::filesystem;
namespace uf = vt::userfiles;

QString Q(const fs::path &p) { return QString::fromStdString(p.string()); }

// Sets (or unsets, with nullopt) an environment variable for one scope.
class EnvScope {
public:
    EnvScope(const char *name, std::optional<std::string> value) : m_name(name) {
        if (qEnvironmentVariableIsSet(name)) m_old = qgetenv(name);
        if (value) qputenv(name, QByteArray::fromStdString(*value));
        else qunsetenv(name);
    }
    ~EnvScope() {
        if (m_old) qputenv(m_name, *m_old);
        else qunsetenv(m_name);
    }
    EnvScope(const EnvScope &) = delete;
    EnvScope &operator=(const EnvScope &) = delete;

private:
    const char *m_name;
    std::optional<QByteArray> m_old;
};

TEST(UserFolders, FollowTheXdgVariablesAndFallBackUnderHome) {
    TempDir home;
    EnvScope h("HOME", home.path().string());
    {
        EnvScope c("XDG_CONFIG_HOME", (home / "cfg").string());
        EnvScope k("XDG_CACHE_HOME", (home / "cache").string());
        EXPECT_EQ(uf::XdgConfigDir(), Q(home / "cfg/vantrec-player"));
        EXPECT_EQ(uf::XdgCacheDir(), Q(home / "cache/vantrec-player"));
        EXPECT_TRUE(fs::is_directory(home / "cfg/vantrec-player")) << "created on demand";
        EXPECT_TRUE(fs::is_directory(home / "cache/vantrec-player"));
    }
    // Unset, empty and relative values are all ignored in favour of the defaults under HOME.
    for (std::optional<std::string> value :
         {std::optional<std::string>{}, std::optional<std::string>{""},
          std::optional<std::string>{"relative/dir"}}) {
        EnvScope c("XDG_CONFIG_HOME", value);
        EnvScope k("XDG_CACHE_HOME", value);
        EXPECT_EQ(uf::XdgConfigDir(), Q(home / ".config/vantrec-player"))
            << value.value_or("(unset)");
        EXPECT_EQ(uf::XdgCacheDir(), Q(home / ".cache/vantrec-player"));
    }
    EXPECT_FALSE(fs::exists(fs::current_path() / "relative"))
        << "nothing made relative to the working folder";
}

TEST(UserFolders, AWritableProgramFolderIsPortableUnlessItIsAnInstalledBinFolder) {
    TempDir prefix;
    fs::create_directories(prefix / "bin");
    EXPECT_TRUE(uf::IsPortableDir(Q(prefix / "bin")));
    EXPECT_FALSE(uf::IsPortableDir(Q(prefix / "missing")));
    fs::create_directories(prefix / "share/applications");
    ASSERT_TRUE(WriteFileBytes(prefix / "share/applications/vantrec-player.desktop", {'x'}));
    EXPECT_FALSE(uf::IsPortableDir(Q(prefix / "bin")))
        << "an installed copy keeps its files per user";
    if (geteuid() != 0) {
        fs::create_directories(prefix / "ro");
        fs::permissions(prefix / "ro", fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_FALSE(uf::IsPortableDir(Q(prefix / "ro")));
    }
}

TEST(UserFolders, TheBuildFolderIsPortableSoEveryFileStaysBesideTheExecutable) {
    const QString self = Q(fs::read_symlink("/proc/self/exe").parent_path());
    EXPECT_EQ(uf::ProgramDir(), self);
    ASSERT_TRUE(uf::Portable());
    EXPECT_EQ(uf::ConfigDir(), self);
    EXPECT_EQ(uf::CacheDir(), self);
    EXPECT_EQ(uf::SettingsFile(), self + QStringLiteral("/settings.ini"));
}

class SettingsFile : public ::testing::Test {
protected:
    uf::Settings Load(const std::string &text) {
        // A new name each time: QSettings caches a file it has read by its size and time stamp.
        const fs::path file = m_dir / ("settings" + std::to_string(m_loads++) + ".ini");
        EXPECT_TRUE(WriteFileBytes(file, std::vector<uint8_t>(text.begin(), text.end())));
        return uf::LoadSettingsFrom(Q(file));
    }
    static void ExpectDefaults(const uf::Settings &s, const std::string &what) {
        EXPECT_TRUE(s.tileUrl.isEmpty()) << what;
        EXPECT_TRUE(s.mbtiles.isEmpty()) << what;
        EXPECT_FALSE(s.speedMph) << what;
        EXPECT_EQ(s.thresholdG, 1.0) << what;
    }
    TempDir m_dir;
    int m_loads = 0;
    EnvScope m_no_env{"VANTREC_TILE_URL", std::nullopt};
};

TEST_F(SettingsFile, GivesEachValueItHolds) {
    const uf::Settings s = Load(
        "[map]\ntile_url=http://127.0.0.1:8080/{z}/{x}/{y}.png\nmbtiles=/home/u/maps/"
        "region.mbtiles\n"
        "[units]\nspeed=mph\n[events]\nthreshold_g=1.75\n");
    EXPECT_EQ(s.tileUrl, QStringLiteral("http://127.0.0.1:8080/{z}/{x}/{y}.png"));
    EXPECT_EQ(s.mbtiles, QStringLiteral("/home/u/maps/region.mbtiles"));
    EXPECT_TRUE(s.speedMph);
    EXPECT_DOUBLE_EQ(s.thresholdG, 1.75);
    EXPECT_FALSE(Load("[units]\nspeed=kmh\n").speedMph);
    EXPECT_TRUE(Load("[units]\nspeed=MPH\n").speedMph);
    // Unquoted commas are part of the value, not a list.
    const uf::Settings commas =
        Load("[map]\ntile_url=http://h/t?l=a,b&z={z}&x={x}&y={y}\nmbtiles=/m/a,b.mbtiles\n");
    EXPECT_EQ(commas.tileUrl, QStringLiteral("http://h/t?l=a,b&z={z}&x={x}&y={y}"));
    EXPECT_EQ(commas.mbtiles, QStringLiteral("/m/a,b.mbtiles"));
}

TEST_F(SettingsFile, MissingOrMalformedValuesGiveTheDefaults) {
    ExpectDefaults(uf::LoadSettingsFrom(Q(m_dir / "absent.ini")), "missing file");
    ExpectDefaults(uf::LoadSettingsFrom(Q(m_dir.path())), "a folder instead of a file");
    ExpectDefaults(Load(""), "empty file");
    const char junk[] = "\x00\xff\xfe[[[\n=\x01\x02\n[map\ntile_url";
    ExpectDefaults(Load(std::string(junk, sizeof junk - 1)), "binary junk");
    ExpectDefaults(Load("[units]\nspeed=furlongs\n[events]\nthreshold_g=strong\n"), "words");
    ExpectDefaults(Load("[map]\ntile_url=http://x/{z}/{x}.png\n"), "a template without {y}");
    for (const char *g : {"0", "-1", "nan", "inf", "1e999", ""})
        ExpectDefaults(Load(std::string("[events]\nthreshold_g=") + g + "\n"), g);
}

TEST_F(SettingsFile, TheEnvironmentOverridesTheTileUrl) {
    const std::string file_url = "[map]\ntile_url=http://file/{z}/{x}/{y}.png\n";
    {
        EnvScope e("VANTREC_TILE_URL", "http://127.0.0.1:9/{z}/{x}/{y}.png");
        EXPECT_EQ(Load(file_url).tileUrl, QStringLiteral("http://127.0.0.1:9/{z}/{x}/{y}.png"));
        EXPECT_EQ(Load("").tileUrl, QStringLiteral("http://127.0.0.1:9/{z}/{x}/{y}.png"));
    }
    {
        EnvScope e("VANTREC_TILE_URL", "");
        EXPECT_EQ(Load(file_url).tileUrl, QStringLiteral("http://file/{z}/{x}/{y}.png"));
    }
}

TEST(FolderFile, KeepsTheClassicFormUpTo259BytesAndLongerFoldersWhole) {
    TempDir dir;
    const QString file = Q(dir / "openpath.dat");
    for (size_t len :
         {size_t{0}, size_t{1}, size_t{259}, size_t{260}, size_t{1000}, size_t{4095}}) {
        const std::string folder = "/" + std::string(len == 0 ? 0 : len - 1, 'f');
        ASSERT_TRUE(uf::WriteFolderFile(file, folder)) << len;
        EXPECT_EQ(fs::file_size(dir / "openpath.dat"), std::max<size_t>(260, len + 1)) << len;
        EXPECT_EQ(uf::ReadFolderFile(file), folder) << len;
    }
}

TEST(FolderFile, ReadsTheClassicFormAndRefusesWhatCannotBeStored) {
    TempDir dir;
    const QString file = Q(dir / "openpath.dat");
    EXPECT_EQ(uf::ReadFolderFile(file), "") << "missing";
    ASSERT_TRUE(WriteFileBytes(dir / "openpath.dat", std::vector<uint8_t>(300, 'a')));
    EXPECT_EQ(uf::ReadFolderFile(file), std::string(260, 'a')) << "no NUL: the classic 260 bytes";
    ASSERT_TRUE(WriteFileBytes(dir / "openpath.dat", {'/', 'm', 'n', 't', 0, 'x', 'y'}));
    EXPECT_EQ(uf::ReadFolderFile(file), "/mnt");

    EXPECT_FALSE(uf::WriteFolderFile(file, std::string("/a\0b", 4)));
    EXPECT_EQ(uf::ReadFolderFile(file), "/mnt") << "a refused write keeps the old file";
    EXPECT_FALSE(uf::WriteFolderFile(Q(dir / "missing/openpath.dat"), "/mnt"));
    EXPECT_FALSE(fs::exists(dir / "missing"));
}

}  // namespace
}  // namespace vt::test
