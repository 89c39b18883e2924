// The settings store: defaults, clamps, what closing writes, legacy keys, the password.
#include "settings.h"
#include "testutil.h"

#include <gtest/gtest.h>
#include <wx/init.h>

#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_CONFIG_HOME", m_dir.path().c_str(), 1);
        ConnectionSettings = ConnectionSettingsRecord();
    }
    qvtest::TempDir m_dir{"qv-settings"};
};

TEST_F(SettingsTest, EmptyStoreGivesDefaultsAndWritesOnlyLastCheck) {
    {
        auto config = OpenSettings();
        WindowPlacement p = LoadStartupSettings(*config);
        EXPECT_EQ(p.x, 50);
        EXPECT_EQ(p.y, 50);
        EXPECT_EQ(p.width, 400);
        EXPECT_EQ(p.height, 240);
        EXPECT_EQ(ConnectionSettings.proxyPort, "80");
        EXPECT_EQ(ConnectionSettings.proxyServer, "");
        EXPECT_EQ(ConnectionSettings.proxyPass, "");
        EXPECT_EQ(ConnectionSettings.connectionType, 0);
        EXPECT_EQ(ReadMaxThreads(*config), 3u);

        long now = static_cast<long>(std::time(nullptr));
        EXPECT_TRUE(UpdateCheckDue(*config, now));
        long stored = 0;
        EXPECT_TRUE(config->Read("lastCheck", &stored));
        EXPECT_EQ(stored, now);
        EXPECT_FALSE(config->HasEntry("posx"));
        EXPECT_FALSE(config->HasEntry("proxyPort"));
    }
    // The file holds the scrambled password: nobody else may read it.
    struct stat st;
    ASSERT_EQ(::stat(SettingsFilePath().utf8_str().data(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(SettingsFilePath(), wxString(m_dir.path()) + "/Quorvane/Quorvane.conf");
}

TEST_F(SettingsTest, ALooseFileAndFolderAreTightenedWhenWritten) {
    { OpenSettings()->Write("proxyServer", "p"); }
    const std::string file = SettingsFilePath().utf8_str().data();
    const std::string folder = file.substr(0, file.rfind('/'));
    ASSERT_EQ(::chmod(file.c_str(), 0644), 0);
    ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
    {
        auto config = OpenSettings();
        wxString pass = "secret";
        ScrambleProxyPass(pass);
        config->Write("proxyPass", pass);
    }
    struct stat st;
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(SettingsTest, PlacementIsClampedToTheMinimum) {
    auto config = OpenSettings();
    config->Write("posx", -20L);
    config->Write("posy", -1L);
    config->Write("sizex", 300L);
    config->Write("sizey", 100L);
    WindowPlacement p = LoadStartupSettings(*config);
    EXPECT_EQ(p.x, 50);
    EXPECT_EQ(p.y, 50);
    EXPECT_EQ(p.width, 375);
    EXPECT_EQ(p.height, 200);

    config->Write("posx", 0L); // 0 is on screen: kept
    config->Write("sizex", 2000L);
    p = LoadStartupSettings(*config);
    EXPECT_EQ(p.x, 0);
    EXPECT_EQ(p.width, 2000);
}

TEST_F(SettingsTest, ClosingKeepsStoredPositionWhenWindowIsAtOrLeftOfTheEdge) {
    auto config = OpenSettings();
    config->Write("posx", 120L);
    config->Write("posy", 130L);
    ClosingState state;
    state.path = "/tmp";
    state.maxThreads = 7;
    state.exec = "/usr/bin/quorvane";
    state.width = 500;
    state.height = 300;
    state.x = 0;
    state.y = -5;
    SaveClosingSettings(*config, state);
    long v = 0;
    config->Read("posx", &v);
    EXPECT_EQ(v, 120);
    config->Read("posy", &v);
    EXPECT_EQ(v, 130);
    config->Read("sizex", &v);
    EXPECT_EQ(v, 500);
    config->Read("max_threads", &v);
    EXPECT_EQ(v, 7);
    EXPECT_EQ(config->Read("Version", ""), "2.21");
    EXPECT_EQ(config->Read("exec", ""), "/usr/bin/quorvane");
    EXPECT_EQ(config->Read("Path", ""), "/tmp");

    state.x = 33;
    state.y = 44;
    SaveClosingSettings(*config, state);
    config->Read("posx", &v);
    EXPECT_EQ(v, 33);
    config->Read("posy", &v);
    EXPECT_EQ(v, 44);
}

TEST_F(SettingsTest, LegacyProxyKeysAreMigratedAndRemoved) {
    {
        auto config = OpenSettings();
        config->Write("proxyEnable", true);
        config->Write("proxyType", "HTTP");
        config->Write("connectionType", 1L);
        LoadStartupSettings(*config);
        EXPECT_EQ(ConnectionSettings.connectionType, 2);
        EXPECT_FALSE(config->HasEntry("proxyEnable"));
        EXPECT_FALSE(config->HasEntry("proxyType"));
    }
    {
        auto config = OpenSettings();
        config->Write("proxyEnable", false);
        config->Write("proxyType", "HTTP");
        config->Write("connectionType", 1L);
        LoadStartupSettings(*config);
        EXPECT_EQ(ConnectionSettings.connectionType, 1);
        EXPECT_FALSE(config->HasEntry("proxyEnable"));
        EXPECT_FALSE(config->HasEntry("proxyType"));
    }
    {
        // Without proxyEnable nothing is deleted.
        auto config = OpenSettings();
        config->Write("proxyType", "SOCKS");
        LoadStartupSettings(*config);
        EXPECT_TRUE(config->HasEntry("proxyType"));
    }
}

TEST_F(SettingsTest, PasswordIsClearInMemoryAndScrambledOnDisk) {
    const wxString clear = "s3cret pass~{}!";
    ConnectionSettings.proxyPass = clear;
    OpsKey = OpsKeyRecord{"myConsumerKey", "opsS3cretValue"};
    {
        auto config = OpenSettings();
        SaveClosingSettings(*config, ClosingState());
    }
    std::string file = qvtest::readFile(SettingsFilePath().ToStdString());
    EXPECT_EQ(file.find("s3cret"), std::string::npos) << file;
    EXPECT_EQ(file.find("opsS3cret"), std::string::npos) << file;
    EXPECT_NE(file.find("opsKey=myConsumerKey"), std::string::npos) << file;
    OpsKey = OpsKeyRecord();

    wxString stored;
    {
        auto config = OpenSettings();
        stored = config->Read("proxyPass", "");
        EXPECT_NE(stored, clear);
        ConnectionSettings = ConnectionSettingsRecord();
        LoadStartupSettings(*config);
    }
    EXPECT_EQ(ConnectionSettings.proxyPass, clear);
    EXPECT_EQ(OpsKey.key, "myConsumerKey");
    EXPECT_EQ(OpsKey.secret, "opsS3cretValue");
    // Writing it back stores the same scrambled bytes.
    {
        auto config = OpenSettings();
        SaveClosingSettings(*config, ClosingState());
        EXPECT_EQ(config->Read("proxyPass", ""), stored);
    }
    // The same routine converts both ways and never makes a zero byte.
    wxString roundTrip = clear;
    ScrambleProxyPass(roundTrip);
    for (wxUniChar c : roundTrip)
        EXPECT_NE(c.GetValue(), 0u);
    ScrambleProxyPass(roundTrip);
    EXPECT_EQ(roundTrip, clear);
}

// Every character, scrambled or not, at the start, inside and at the end of a stored secret
// reads back as it was: no environment expansion, no escapes eaten, no spaces trimmed.
TEST_F(SettingsTest, EverySecretReadsBackByteForByte) {
    setenv("QV_TEST_VAR", "expanded", 1);
    std::vector<wxString> secrets = {"7aK3b3BDREc5d2e7", "a3BDRE5b7", "$QV_TEST_VAR",
                                     "%QV_TEST_VAR%"};
    for (unsigned c = 1; c < 256; ++c)
        secrets.push_back(wxString(wxUniChar(c)) + "k\\" + wxUniChar(c) + "$" + wxUniChar(c));
    for (const wxString& secret : secrets) {
        ConnectionSettings.proxyPass = secret;
        OpsKey = OpsKeyRecord{"key", secret};
        {
            auto config = OpenSettings();
            SaveClosingSettings(*config, ClosingState());
        }
        ConnectionSettings = ConnectionSettingsRecord();
        OpsKey = OpsKeyRecord();
        {
            auto config = OpenSettings();
            LoadStartupSettings(*config);
        }
        EXPECT_EQ(OpsKey.secret, secret) << unsigned(secret[0].GetValue());
        EXPECT_EQ(ConnectionSettings.proxyPass, secret) << unsigned(secret[0].GetValue());
    }
    OpsKey = OpsKeyRecord();
    unsetenv("QV_TEST_VAR");
}

TEST_F(SettingsTest, OpsKeyFromTheEnvironmentStandsInOnlyWhenBothAreSet) {
    OpsKey = OpsKeyRecord{"stored", "storedSecret"};
    setenv("QUORVANE_OPS_KEY", "envKey", 1);
    unsetenv("QUORVANE_OPS_SECRET");
    EXPECT_EQ(OpsKeyInUse().key, "stored");
    setenv("QUORVANE_OPS_SECRET", " envSecret\r\n", 1); // pasted: trimmed for use
    EXPECT_EQ(OpsKeyInUse().key, "envKey");
    EXPECT_EQ(OpsKeyInUse().secret, "envSecret");
    {
        auto config = OpenSettings();
        SaveClosingSettings(*config, ClosingState());
        EXPECT_EQ(config->Read("opsKey", ""), "stored"); // never written to the store
    }
    unsetenv("QUORVANE_OPS_KEY");
    unsetenv("QUORVANE_OPS_SECRET");
    OpsKey = OpsKeyRecord();
}

TEST_F(SettingsTest, MaxThreadsIsClampedOnReading) {
    auto config = OpenSettings();
    for (auto [stored, read] : {std::pair<long, unsigned>{0, 1}, {-5, 1}, {1000, 511}, {7, 7}}) {
        config->Write("max_threads", stored);
        EXPECT_EQ(ReadMaxThreads(*config), read) << stored;
    }
}

TEST_F(SettingsTest, UpdateCheckIsDueOnlyAfterSixtyDays) {
    auto config = OpenSettings();
    const long now = 1800000000;
    const long day = 24 * 3600;
    config->Write("lastCheck", now - 59 * day);
    EXPECT_FALSE(UpdateCheckDue(*config, now));
    config->Write("lastCheck", now - 61 * day);
    EXPECT_TRUE(UpdateCheckDue(*config, now));
    long stored = 0;
    config->Read("lastCheck", &stored);
    EXPECT_EQ(stored, now - 61 * day); // an existing value is not rewritten here
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    wxInitializer init;
    return RUN_ALL_TESTS();
}
