// Korvix's icon exports on icon files the test writes: exact pixels under both transparency
// rules, array sizes, and the refusals.
#include "korvix_test_support.h"

#include <tavro/com_support.h>
#include <tavro_test/import_patch.h>

#include <commctrl.h>
#include <commoncontrols.h>
#include <shellapi.h>

#include <functional>
#include <optional>

namespace korvix::test {
namespace {

using GetFileIcon = jintArray(JNICALL*)(JNIEnv*, jclass, jstring, jint);
using ExtractIcon = jintArray(JNICALL*)(JNIEnv*, jclass, jstring, jint, jint);

constexpr int kEdge = 32;  // the system's large-icon size, which ExtractIcon and the shell hand out

// One pixel of a fixture: its 0xAARRGGBB value and whether the icon's mask marks it transparent.
struct FixturePixel {
    std::uint32_t argb;
    bool transparent;
};
using PixelFunction = std::function<FixturePixel(int x, int y)>;

void append(std::string& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// An .ico file with one image of kEdge x kEdge pixels at 24 bits (no alpha) or 32 bits.
std::string iconFile(int bitCount, const PixelFunction& pixel) {
    std::string image;
    append(image, 40, 4);
    append(image, kEdge, 4);
    append(image, 2 * kEdge, 4);  // colour and mask rows together
    append(image, 1, 2);
    append(image, static_cast<std::uint32_t>(bitCount), 2);
    for (int i = 0; i < 6; ++i) append(image, 0, 4);
    for (int y = kEdge - 1; y >= 0; --y) {  // rows bottom-up
        std::string row;
        for (int x = 0; x < kEdge; ++x) append(row, pixel(x, y).argb, bitCount / 8);
        while (row.size() % 4) row += '\0';
        image += row;
    }
    for (int y = kEdge - 1; y >= 0; --y) {
        std::uint32_t bits = 0;  // 32 pixels: one 4-byte row, most significant bit first
        for (int x = 0; x < kEdge; ++x) {
            if (pixel(x, y).transparent) bits |= 0x80000000u >> x;
        }
        for (int i = 3; i >= 0; --i) image += static_cast<char>((bits >> (8 * i)) & 0xFF);
    }
    std::string file;
    append(file, 0, 2);
    append(file, 1, 2);  // an icon
    append(file, 1, 2);  // one image
    file += static_cast<char>(kEdge);
    file += static_cast<char>(kEdge);
    file += '\0';
    file += '\0';
    append(file, 1, 2);
    append(file, static_cast<std::uint32_t>(bitCount), 2);
    append(file, static_cast<std::uint32_t>(image.size()), 4);
    append(file, 6 + 16, 4);
    return file + image;
}

// No alpha of its own; the bottom-right quadrant is transparent (black under the mask).
// Colours vary with x and y so that a flipped or shifted read-out shows.
FixturePixel maskedPixel(int x, int y) {
    if (x >= 16 && y >= 16) return {0x00000000u, true};
    return {static_cast<std::uint32_t>((x * 8) << 16 | (y * 8) << 8 | 0x80), false};
}

// Its own alpha: the top half opaque, bottom left half-transparent, bottom right clear.
FixturePixel alphaPixel(int x, int y) {
    const std::uint32_t colour = static_cast<std::uint32_t>((x * 8) << 16 | (y * 8) << 8 | 0x40);
    if (y < 16) return {0xFF000000u | colour, false};
    if (x < 16) return {0x80000000u | colour, false};
    return {0x00000000u, true};
}

std::vector<jint> expectedPixels(const std::function<std::uint32_t(int, int)>& value) {
    std::vector<jint> pixels;
    for (int y = 0; y < kEdge; ++y) {
        for (int x = 0; x < kEdge; ++x) pixels.push_back(static_cast<jint>(value(x, y)));
    }
    return pixels;
}

// The shell shows an icon file's own icon only for types whose DefaultIcon is "%1"; Wine's
// registry has no such entry for ".ico", so the fixtures get a type of their own, one per
// process since suites run in parallel.
std::wstring iconExtension() {
    return L".korvixico" + std::to_wstring(::GetCurrentProcessId());
}

class KorvixIcons : public KorvixTest {
protected:
    static std::wstring classesKey(const std::wstring& below) { return L"Software\\Classes\\" + below; }
    static std::wstring iconClass() { return L"KorvixTest.IconFile" + iconExtension(); }

    static void SetUpTestSuite() {
        const std::wstring type = iconClass();
        ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, classesKey(iconExtension()).c_str(), nullptr, REG_SZ, type.c_str(),
                          static_cast<DWORD>((type.size() + 1) * sizeof(wchar_t)));
        ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, classesKey(type + L"\\DefaultIcon").c_str(), nullptr, REG_SZ, L"%1",
                          3 * sizeof(wchar_t));
    }
    static void TearDownTestSuite() {
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, classesKey(iconExtension()).c_str());
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, classesKey(iconClass()).c_str());
    }

    void SetUp() override {
        maskedIcon_ = folder_.file(L"masked" + iconExtension());
        alphaIcon_ = folder_.file(L"alpha" + iconExtension());
        ASSERT_TRUE(writeFile(maskedIcon_, iconFile(24, maskedPixel)));
        ASSERT_TRUE(writeFile(alphaIcon_, iconFile(32, alphaPixel)));
    }

    std::optional<std::vector<jint>> pixels(jintArray array) {
        if (!array) return std::nullopt;
        EXPECT_EQ(vm.classNameOf(array), "[I");
        return vm.intArrayValue(array);
    }
    std::optional<std::vector<jint>> fileIcon(const std::wstring& path, int size) {
        return pixels(getFileIcon(env, korvixClass, java(narrow(path)), size));
    }
    std::optional<std::vector<jint>> imageListIcon(const std::wstring& path, int size) {
        return pixels(getFileIconOnXpOrVista(env, korvixClass, java(narrow(path)), size));
    }
    std::optional<std::vector<jint>> extracted(const std::wstring& path, int index, int size) {
        return pixels(extractIcon(env, korvixClass, java(narrow(path)), index, size));
    }

    GetFileIcon getFileIcon = korvixExport<GetFileIcon>("getFileIcon");
    GetFileIcon getFileIconOnXpOrVista = korvixExport<GetFileIcon>("getFileIconOnXpOrVista");
    ExtractIcon extractIcon = korvixExport<ExtractIcon>("extractIcon");

    ScratchFolder folder_;
    std::wstring maskedIcon_, alphaIcon_;
};

TEST_F(KorvixIcons, ShellIconTakesTransparencyFromTheMaskWhenItHasNoAlpha) {
    const std::optional<std::vector<jint>> icon = fileIcon(maskedIcon_, kEdge);
    ASSERT_TRUE(icon);
    EXPECT_EQ(*icon, expectedPixels([](int x, int y) {
        const FixturePixel p = maskedPixel(x, y);
        return p.transparent ? 0x00000000u : 0xFF000000u | p.argb;
    }));
}

TEST_F(KorvixIcons, ShellIconKeepsItsOwnAlpha) {
    const std::optional<std::vector<jint>> icon = fileIcon(alphaIcon_, kEdge);
    ASSERT_TRUE(icon);
    EXPECT_EQ(*icon, expectedPixels([](int x, int y) { return alphaPixel(x, y).argb; }));
}

TEST_F(KorvixIcons, ExtractedIconIsWhiteWhereTransparentAndKeepsAlphaAsItIs) {
    const std::optional<std::vector<jint>> masked = extracted(maskedIcon_, 0, kEdge);
    ASSERT_TRUE(masked);
    EXPECT_EQ(*masked, expectedPixels([](int x, int y) {
        const FixturePixel p = maskedPixel(x, y);
        return p.transparent ? 0x00FFFFFFu : p.argb;  // alpha 0 everywhere
    }));
    const std::optional<std::vector<jint>> alpha = extracted(alphaIcon_, 0, kEdge);
    ASSERT_TRUE(alpha);
    EXPECT_EQ(*alpha, expectedPixels([](int x, int y) {
        const FixturePixel p = alphaPixel(x, y);
        return p.transparent ? (p.argb | 0x00FFFFFFu) : p.argb;
    }));
}

TEST_F(KorvixIcons, ArraysHoldSizeTimesSizePixels) {
    for (int size : {1, 16, kEdge, 48, 64}) {
        SCOPED_TRACE(size);
        const std::optional<std::vector<jint>> fromFile = extracted(maskedIcon_, 0, size);
        ASSERT_TRUE(fromFile);
        EXPECT_EQ(fromFile->size(), static_cast<std::size_t>(size * size));
        const std::optional<std::vector<jint>> fromShell = fileIcon(maskedIcon_, size);
        ASSERT_TRUE(fromShell);
        EXPECT_EQ(fromShell->size(), static_cast<std::size_t>(size * size));
    }
}

TEST_F(KorvixIcons, SizesOutsideTheBuffersAreRefused) {
    for (int size : {0, -1, -32, 65, 128, 1 << 20, INT32_MIN, INT32_MAX}) {
        SCOPED_TRACE(size);
        EXPECT_EQ(fileIcon(maskedIcon_, size), std::nullopt);
        EXPECT_EQ(extracted(maskedIcon_, 0, size), std::nullopt);
    }
    // The image-list read-out allocates per call, so its edge is bounded too.
    for (int size : {0, -1, 257, 1 << 20, INT32_MIN, INT32_MAX}) {
        SCOPED_TRACE(size);
        EXPECT_EQ(imageListIcon(maskedIcon_, size), std::nullopt);
    }
}

TEST_F(KorvixIcons, NoIconGivesNull) {
    const std::wstring text = folder_.file(L"notes.txt");
    ASSERT_TRUE(writeFile(text, "not an icon"));
    const std::wstring missing = folder_.file(L"missing" + iconExtension());
    EXPECT_EQ(extracted(maskedIcon_, 1, kEdge), std::nullopt);  // past the last icon
    EXPECT_EQ(extracted(maskedIcon_, -1, kEdge), std::nullopt);  // asks for the count, not an icon
    EXPECT_EQ(extracted(text, 0, kEdge), std::nullopt);
    EXPECT_EQ(extracted(missing, 0, kEdge), std::nullopt);
    EXPECT_EQ(fileIcon(missing, kEdge), std::nullopt);
    EXPECT_EQ(imageListIcon(missing, kEdge), std::nullopt);

    EXPECT_EQ(getFileIcon(env, korvixClass, nullptr, kEdge), nullptr);
    EXPECT_EQ(getFileIconOnXpOrVista(env, korvixClass, nullptr, kEdge), nullptr);
    EXPECT_EQ(extractIcon(env, korvixClass, nullptr, 0, kEdge), nullptr);
}

// The shell's extra-large system image list as Windows serves it: SetIconSize redraws every
// icon at the new size (Wine empties its list there instead). The stand-in keeps a real image
// list made through ImageList_*, filled at each size with the fixture's icon up to the index
// the shell gives the file, and hands out its icons through the real ImageList_GetIcon.
class SystemImageListStandIn final : public tavro::ComObject<IImageList> {
public:
    SystemImageListStandIn(std::wstring iconFile, int lastIndex) : iconFile_(std::move(iconFile)), lastIndex_(lastIndex) {}
    ~SystemImageListStandIn() override {
        if (list_) ::ImageList_Destroy(list_);
    }

    int iconSizeSet = 0;
    int askedIndex = -1;
    UINT askedFlags = 0;

    STDMETHODIMP SetIconSize(int cx, int cy) override {
        if (cx != cy || cx <= 0) return E_INVALIDARG;
        if (list_) ::ImageList_Destroy(list_);
        list_ = ::ImageList_Create(cx, cy, ILC_COLOR32 | ILC_MASK, lastIndex_ + 1, 0);
        if (!list_) return E_FAIL;
        const HICON icon = static_cast<HICON>(::LoadImageW(nullptr, iconFile_.c_str(), IMAGE_ICON, cx, cy, LR_LOADFROMFILE));
        if (!icon) return E_FAIL;
        for (int i = 0; i <= lastIndex_; ++i) ::ImageList_ReplaceIcon(list_, -1, icon);
        ::DestroyIcon(icon);
        iconSizeSet = cx;
        return S_OK;
    }
    STDMETHODIMP GetIcon(int i, UINT flags, HICON* icon) override {
        askedIndex = i;
        askedFlags = flags;
        if (!icon) return E_POINTER;
        *icon = list_ ? ::ImageList_GetIcon(list_, i, flags) : nullptr;
        return *icon ? S_OK : E_INVALIDARG;
    }
    STDMETHODIMP GetIconSize(int* cx, int* cy) override {
        if (!cx || !cy) return E_POINTER;
        return list_ && ::ImageList_GetIconSize(list_, cx, cy) ? S_OK : E_FAIL;
    }
    STDMETHODIMP GetImageCount(int* count) override {
        if (!count) return E_POINTER;
        *count = list_ ? ::ImageList_GetImageCount(list_) : 0;
        return S_OK;
    }

    // Nothing else of the list is used by the library.
    STDMETHODIMP Add(HBITMAP, HBITMAP, int*) override { return E_NOTIMPL; }
    STDMETHODIMP ReplaceIcon(int, HICON, int*) override { return E_NOTIMPL; }
    STDMETHODIMP SetOverlayImage(int, int) override { return E_NOTIMPL; }
    STDMETHODIMP Replace(int, HBITMAP, HBITMAP) override { return E_NOTIMPL; }
    STDMETHODIMP AddMasked(HBITMAP, COLORREF, int*) override { return E_NOTIMPL; }
    STDMETHODIMP Draw(IMAGELISTDRAWPARAMS*) override { return E_NOTIMPL; }
    STDMETHODIMP Remove(int) override { return E_NOTIMPL; }
    STDMETHODIMP GetImageInfo(int, IMAGEINFO*) override { return E_NOTIMPL; }
    STDMETHODIMP Copy(int, IUnknown*, int, UINT) override { return E_NOTIMPL; }
    STDMETHODIMP Merge(int, IUnknown*, int, int, int, REFIID, void**) override { return E_NOTIMPL; }
    STDMETHODIMP Clone(REFIID, void**) override { return E_NOTIMPL; }
    STDMETHODIMP GetImageRect(int, RECT*) override { return E_NOTIMPL; }
    STDMETHODIMP SetImageCount(UINT) override { return E_NOTIMPL; }
    STDMETHODIMP SetBkColor(COLORREF, COLORREF*) override { return E_NOTIMPL; }
    STDMETHODIMP GetBkColor(COLORREF*) override { return E_NOTIMPL; }
    STDMETHODIMP BeginDrag(int, int, int) override { return E_NOTIMPL; }
    STDMETHODIMP EndDrag() override { return E_NOTIMPL; }
    STDMETHODIMP DragEnter(HWND, int, int) override { return E_NOTIMPL; }
    STDMETHODIMP DragLeave(HWND) override { return E_NOTIMPL; }
    STDMETHODIMP DragMove(int, int) override { return E_NOTIMPL; }
    STDMETHODIMP SetDragCursorImage(IUnknown*, int, int, int) override { return E_NOTIMPL; }
    STDMETHODIMP DragShowNolock(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP GetDragImage(POINT*, POINT*, REFIID, void**) override { return E_NOTIMPL; }
    STDMETHODIMP GetItemFlags(int, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP GetOverlayImage(int, int*) override { return E_NOTIMPL; }

private:
    std::wstring iconFile_;
    int lastIndex_;
    HIMAGELIST list_ = nullptr;
};

// The library finds SHGetImageList by its export number in shell32 through GetProcAddress:
// the test stands in for that one answer in Korvix's import of GetProcAddress.
struct ImageListLookup {
    static inline SystemImageListStandIn* list = nullptr;
    static inline int askedKind = -1;
    static inline FARPROC(WINAPI* realGetProcAddress)(HMODULE, LPCSTR) = nullptr;

    static HRESULT WINAPI getImageList(int kind, REFIID riid, void** out) {
        askedKind = kind;
        if (!out) return E_POINTER;
        *out = nullptr;
        return list ? list->QueryInterface(riid, out) : E_FAIL;
    }
    static FARPROC WINAPI getProcAddress(HMODULE module, LPCSTR name) {
        if (module == ::GetModuleHandleW(L"shell32.dll") && IS_INTRESOURCE(name) &&
            reinterpret_cast<ULONG_PTR>(name) == 727) {
            return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(getImageList));
        }
        return realGetProcAddress(module, name);
    }
};

TEST_F(KorvixIcons, ImageListIconIsDrawnAtTheAskedSizeWithTheTransparencyRule) {
    // Wine adds a file type's "%1" icon to the system list again on every query, so the index
    // the library is given lies at or after the one found here; the stand-in serves those too.
    const int index = [&] {
        SHFILEINFOA file{};
        ::SHGetFileInfoA(narrow(alphaIcon_).c_str(), static_cast<DWORD>(-1), &file, sizeof(file), SHGFI_SYSICONINDEX);
        return file.iIcon;
    }();
    ASSERT_GE(index, 0);
    tavro::test::ImportPatch lookup(korvixLibrary(), "kernel32.dll", "GetProcAddress",
                                    reinterpret_cast<void*>(ImageListLookup::getProcAddress));
    ASSERT_TRUE(lookup.active());
    ImageListLookup::realGetProcAddress =
        reinterpret_cast<FARPROC(WINAPI*)(HMODULE, LPCSTR)>(lookup.original());

    struct Case {
        const std::wstring* file;
        int size;
        std::optional<std::vector<jint>> expected;  // nothing: only the rule's alphas are checked
    } cases[] = {
        {&alphaIcon_, kEdge, expectedPixels([](int x, int y) { return alphaPixel(x, y).argb; })},
        {&maskedIcon_, kEdge, expectedPixels([](int x, int y) {
             const FixturePixel p = maskedPixel(x, y);
             return p.transparent ? 0x00000000u : 0xFF000000u | p.argb;
         })},
        {&maskedIcon_, 48, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        SystemImageListStandIn* const list = new SystemImageListStandIn(*c.file, index + 16);
        ImageListLookup::list = list;
        const std::optional<std::vector<jint>> icon = imageListIcon(*c.file, c.size);
        EXPECT_EQ(ImageListLookup::askedKind, SHIL_EXTRALARGE);
        EXPECT_EQ(list->iconSizeSet, c.size);
        EXPECT_GE(list->askedIndex, index);
        EXPECT_EQ(list->askedFlags, UINT(ILD_TRANSPARENT | ILD_SCALE));
        ImageListLookup::list = nullptr;
        list->Release();
        ASSERT_TRUE(icon);
        ASSERT_EQ(icon->size(), static_cast<std::size_t>(c.size * c.size));
        if (c.expected) {
            EXPECT_EQ(*icon, *c.expected);
            continue;
        }
        // Scaled, the masked icon keeps its rule: opaque or clear, its bottom-right quadrant clear.
        for (jint pixel : *icon) {
            const std::uint32_t alpha = static_cast<std::uint32_t>(pixel) >> 24;
            ASSERT_TRUE(alpha == 0 || alpha == 0xFF) << std::hex << pixel;
        }
        EXPECT_EQ(static_cast<std::uint32_t>((*icon)[4 * 48 + 4]) >> 24, 0xFFu);
        EXPECT_EQ(static_cast<std::uint32_t>((*icon)[44 * 48 + 44]) >> 24, 0u);
    }
}

}  // namespace
}  // namespace korvix::test
