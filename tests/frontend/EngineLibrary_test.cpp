#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "EngineLibrary.h"

using namespace folvane;

TEST(EngineLibrary, LoadsTheBuiltEngineRefusesOthersSayingWhyAndSearchesBesideAndBelowTheProgram)
{
    std::string why;
    std::optional<EngineLibrary> loaded = EngineLibrary::LoadFrom(KESTRIX_LIBRARY, &why);
    ASSERT_TRUE(loaded) << why;
    EngineLibrary library = std::move(*loaded);
    loaded.reset();
    EXPECT_STREQ(library.Api().Version(), FOLVANE_VERSION);
    EXPECT_NE(library.CreateObject(), nullptr);
    EXPECT_FALSE(EngineLibrary::LoadFrom("/nonexistent/folder/libkestrix.so.1", &why));
    EXPECT_EQ(why.rfind("/nonexistent/folder/libkestrix.so.1: ", 0), 0u) << why;
    EXPECT_FALSE(EngineLibrary::LoadFrom("libc.so.6", &why));
    EXPECT_EQ(why, "libc.so.6: not the Kestrix engine, the function cKestrix_Create is missing");
    // Below, then beside the program; from the build tree it may find an installed engine.
    const auto paths = EngineLibrary::CandidatePaths("/opt/folvane/bin/folvane");
    ASSERT_GE(paths.size(), 2u);
    EXPECT_EQ(paths.front(), "/opt/folvane/bin/../lib/libkestrix.so.1");
    EXPECT_EQ(paths.back(), "/opt/folvane/bin/libkestrix.so.1");
    EXPECT_TRUE(EngineLibrary::CandidatePaths("").empty());
    if (std::optional<EngineLibrary> found = EngineLibrary::Load(&why)) {
        EXPECT_NE(found->CreateObject(), nullptr);
    } else {
        EXPECT_EQ(why.rfind("The engine library libkestrix.so.1 could not be loaded:", 0), 0u) << why;
        EXPECT_NE(why.find("\nlibkestrix.so.1: "), std::string::npos) << why;
    }
}
