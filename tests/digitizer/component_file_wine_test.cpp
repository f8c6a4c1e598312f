// The built Pramble.qtx read back as QuickTime for Windows and the loader see it: the image, the
// appended fork and trailer, the exports by ordinal, the version strings.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <tavro/win_handles.h>
#include <tavro_test/scratch.h>

#include "golden_component_bytes.h"
#include "quicktime_records.h"

namespace {

using tavro::test::buildFilePath;

std::wstring wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

const std::string kPackedPath = buildFilePath(PRAMBLE_QTX_PATH);
const std::string kImagePath = buildFilePath(PRAMBLE_IMAGE_PATH);

TEST(ComponentFile, ImageThenForkThenTrailer) {
    const std::string packed = tavro::test::readFile(wide(kPackedPath));
    const std::string image = tavro::test::readFile(wide(kImagePath));
    ASSERT_FALSE(image.empty());
    ASSERT_GE(packed.size(), image.size() + pramble_test::kFork.size() + 36);
    EXPECT_EQ(packed.compare(0, image.size(), image), 0) << "the linked image comes first, unchanged";
    EXPECT_EQ(packed.substr(image.size(), pramble_test::kFork.size()), pramble_test::kFork);
    const std::size_t forkEnd = image.size() + pramble_test::kFork.size();
    const std::size_t trailerStart = packed.size() - 36;
    EXPECT_EQ(packed.substr(forkEnd, trailerStart - forkEnd), std::string(trailerStart - forkEnd, '\0'));
    EXPECT_EQ(packed.substr(trailerStart), pramble_test::trailer(std::uint32_t(image.size())));
}

TEST(ComponentFile, ExportsByOrdinalAndAnswersUnknownSelectors) {
    const tavro::UniqueModule module(::LoadLibraryA(kPackedPath.c_str()));
    ASSERT_TRUE(module) << ::GetLastError();
    const FARPROC dllMain = ::GetProcAddress(module.get(), "DllMain");
    const FARPROC dispatch = ::GetProcAddress(module.get(), "vdigComponentDispatch");
    ASSERT_NE(dllMain, nullptr);
    ASSERT_NE(dispatch, nullptr);
    EXPECT_EQ(::GetProcAddress(module.get(), MAKEINTRESOURCEA(1)), dllMain);
    EXPECT_EQ(::GetProcAddress(module.get(), MAKEINTRESOURCEA(50)), dispatch);

    using Entry = quicktime::ComponentRoutineUPP;
    const auto entry = reinterpret_cast<Entry>(reinterpret_cast<void*>(dispatch));
    for (std::int16_t selector : {std::int16_t(94), std::int16_t(256), std::int16_t(-6)}) {
        quicktime::ComponentParameters params{0, 0, selector, {0}};
        EXPECT_EQ(entry(&params, nullptr), pramble::kBadComponentSelector) << selector;
    }
}

TEST(ComponentFile, VersionResourceCarriesEveryString) {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(kPackedPath.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> block(size);
    ASSERT_TRUE(::GetFileVersionInfoA(kPackedPath.c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    ASSERT_TRUE(::VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &fixedSize));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);

    const std::pair<const char*, const char*> strings[] = {
        {"FileVersion", "1, 0, 0, 1"},
        {"ProductVersion", "1, 0, 0, 1"},
        {"ProductName", "Skellit"},
        {"InternalName", "Skellit"},
        {"FileDescription", "Pramble"},
        {"Comments", "QuickTime Component for Skellit"},
        {"OriginalFilename", "Pramble.qtx"},
    };
    for (const auto& [name, value] : strings) {
        char* text = nullptr;
        UINT length = 0;
        const std::string query = std::string("\\StringFileInfo\\040904b0\\") + name;
        ASSERT_TRUE(::VerQueryValueA(block.data(), query.c_str(), reinterpret_cast<void**>(&text), &length)) << name;
        EXPECT_STREQ(text, value) << name;
    }
}

}  // namespace
