#include <gtest/gtest.h>
#include <stdlib.h>

#include "processing/plugin_module.h"

namespace {

TEST(PluginModule, MissingLibraryOrExportIsReportedWithItsMessageAndNothingStaysLoaded) {
    CPluginModule plugin;
    EXPECT_EQ(plugin.Load("/nonexistent/Tavro.so"), CPluginModule::EResult::ModuleNotFound);
    EXPECT_FALSE(plugin.IsLoaded());
    EXPECT_EQ(plugin.Function(), nullptr);
    EXPECT_FALSE(plugin.LoaderError().empty());
    // The C library loads but has no TavroFunc.
    EXPECT_EQ(plugin.Load("libc.so.6"), CPluginModule::EResult::ExportNotFound);
    EXPECT_FALSE(plugin.IsLoaded());
    EXPECT_EQ(CPluginModule::MessageFor(CPluginModule::EResult::ModuleNotFound),
              "Tavro.soが見つかりません");
    EXPECT_EQ(CPluginModule::MessageFor(CPluginModule::EResult::ExportNotFound),
              "TavroFuncが見つかりません");
}

#ifdef TAVRO_PLUGIN_PATH
TEST(PluginModule, ExplicitPathWinsOverTheEnvironment) {
    setenv("PELORA_PLUGIN", "/nonexistent/other.so", 1);
    CPluginModule plugin;
    EXPECT_EQ(plugin.Load(TAVRO_PLUGIN_PATH), CPluginModule::EResult::Loaded);
    EXPECT_NE(plugin.Function(), nullptr);
    plugin.Unload();
    // Without an explicit path the environment decides.
    EXPECT_EQ(plugin.Load(), CPluginModule::EResult::ModuleNotFound);
    EXPECT_EQ(plugin.Path(), "/nonexistent/other.so");
    setenv("PELORA_PLUGIN", TAVRO_PLUGIN_PATH, 1);
    EXPECT_EQ(plugin.Load(), CPluginModule::EResult::Loaded);
    unsetenv("PELORA_PLUGIN");
}
#endif

}  // namespace
