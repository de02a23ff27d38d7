#include <gtest/gtest.h>

#include "processing/plugin_module.h"

namespace {

TEST(PluginModule, MissingLibraryOrExportIsReportedWithItsMessageAndNothingStaysLoaded) {
    CPluginModule plugin;
    EXPECT_EQ(plugin.Load("/nonexistent/Tavro.so"), CPluginModule::EResult::ModuleNotFound);
    EXPECT_FALSE(plugin.IsLoaded());
    // The C library loads but has no TavroFunc.
    EXPECT_EQ(plugin.Load("libc.so.6"), CPluginModule::EResult::ExportNotFound);
    EXPECT_FALSE(plugin.IsLoaded());
    EXPECT_EQ(plugin.Function(), nullptr);
    EXPECT_EQ(CPluginModule::MessageFor(CPluginModule::EResult::ExportNotFound),
              "TavroFuncが見つかりません");
}

}  // namespace
