#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>

#include "frontend/EngineLibrary.h"

using namespace folvane;

TEST(EngineLibrary, LoadsTheBuiltEngineRefusesOthersSayingWhyAndSearchesBelowThenBesideTheProgram)
{
    std::string why;
    std::optional<EngineLibrary> loaded = EngineLibrary::LoadFrom(KESTRIX_LIBRARY, &why);
    ASSERT_TRUE(loaded) << why;
    EngineLibrary library = std::move(*loaded);
    loaded.reset();
    EXPECT_STREQ(library.Api().Version(), FOLVANE_VERSION);
    EXPECT_NE(library.CreateObject(), nullptr);
    EXPECT_FALSE(EngineLibrary::LoadFrom("libc.so.6", &why));
    EXPECT_EQ(why, "libc.so.6: not the Kestrix engine, the function cKestrix_Create is missing");
    const auto paths = EngineLibrary::CandidatePaths("/opt/folvane/bin/folvane");
    ASSERT_GE(paths.size(), 2u);
    EXPECT_EQ(paths.front(), "/opt/folvane/bin/../lib/libkestrix.so.1");
    EXPECT_EQ(paths.back(), "/opt/folvane/bin/libkestrix.so.1");
    EXPECT_TRUE(EngineLibrary::CandidatePaths("").empty());
    // An engine beside the program is taken before the dynamic linker is asked.
    const auto beside = std::filesystem::read_symlink("/proc/self/exe").parent_path() / kEngineLibraryName;
    std::filesystem::remove(beside);
    std::filesystem::create_symlink(KESTRIX_LIBRARY, beside);
    const std::optional<EngineLibrary> found = EngineLibrary::Load(&why);
    std::filesystem::remove(beside);
    ASSERT_TRUE(found) << why;
    EXPECT_EQ(found->Path(), beside.string());
}

// Nothing below or beside the test program, and nothing for the dynamic linker to find.
TEST(EngineLibrary, LoadWithoutAnEngineSaysWhereItLooked)
{
    if (EngineLibrary::LoadFrom(kEngineLibraryName))
        GTEST_SKIP() << "the dynamic linker finds an engine (installed, or loaded by an earlier test)";
    std::string why;
    EXPECT_FALSE(EngineLibrary::Load(&why));
    EXPECT_EQ(why.rfind("The engine library libkestrix.so.1 could not be loaded:\nlibkestrix.so.1: ", 0), 0u)
        << why;
}
