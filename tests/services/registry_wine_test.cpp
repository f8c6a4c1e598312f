// Korvix's registry exports against Wine's real registry, under keys each test makes and removes.
#include "korvix_test_support.h"

#include <tavro/win_handles.h>

#include <algorithm>
#include <optional>

namespace korvix::test {
namespace {

using GetRegistry = jstring(JNICALL*)(JNIEnv*, jclass, jstring, jstring, jstring);
using PutRegistry = jboolean(JNICALL*)(JNIEnv*, jclass, jstring, jstring, jstring, jstring);
using KeyExists = jboolean(JNICALL*)(JNIEnv*, jclass, jstring, jstring);
using GetSubkeys = jobjectArray(JNICALL*)(JNIEnv*, jclass, jstring, jstring);

class KorvixRegistry : public KorvixTest {
protected:
    void SetUp() override {
        keyPath_ = "Software\\TavroKorvixTest\\" + std::to_string(::GetCurrentProcessId());
        deleteTree(HKEY_CURRENT_USER);
        HKEY key = nullptr;
        ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, keyPath_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                    nullptr),
                  ERROR_SUCCESS);
        key_.reset(key);
    }
    void TearDown() override {
        key_.reset();
        deleteTree(HKEY_CURRENT_USER);
        deleteTree(HKEY_LOCAL_MACHINE);
        KorvixTest::TearDown();
    }

    void deleteTree(HKEY root) { ::RegDeleteTreeA(root, keyPath_.c_str()); }
    std::string path(const std::string& below = "") const { return below.empty() ? keyPath_ : keyPath_ + "\\" + below; }

    void setValue(const std::string& name, DWORD type, const std::string& data) {
        ASSERT_EQ(::RegSetValueExA(key_.get(), name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                                   static_cast<DWORD>(data.size())),
                  ERROR_SUCCESS);
    }
    void setDword(const std::string& name, DWORD value) {
        setValue(name, REG_DWORD, std::string(reinterpret_cast<const char*>(&value), sizeof(value)));
    }
    void createSubkey(const std::string& below, DWORD options = 0) {
        HKEY key = nullptr;
        ASSERT_EQ(::RegCreateKeyExA(key_.get(), below.c_str(), 0, nullptr, options, KEY_ALL_ACCESS, nullptr, &key,
                                    nullptr),
                  ERROR_SUCCESS);
        ::RegCloseKey(key);
    }

    // The raw data and type a value holds, read with the 8-bit query.
    std::optional<std::pair<DWORD, std::string>> storedValue(HKEY root, const std::string& keyPath,
                                                             const std::string& name) {
        std::string data(4096, '\0');
        DWORD type = 0;
        DWORD length = static_cast<DWORD>(data.size());
        if (::RegGetValueA(root, keyPath.c_str(), name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &type, &data[0],
                           &length) != ERROR_SUCCESS) {
            return std::nullopt;
        }
        data.resize(length);
        return std::make_pair(type, data);
    }

    std::optional<std::string> get(const char* root, const std::string& subKey, const std::string& name) {
        jstring result = getRegistry(env, korvixClass, root ? java(root) : nullptr, java(subKey), java(name));
        if (!result) return std::nullopt;
        return utf8(result);
    }
    bool exists(const char* root, const std::string& keyPath) {
        return keyExists(env, korvixClass, java(root), java(keyPath)) == JNI_TRUE;
    }
    std::optional<std::vector<std::string>> subkeys(const char* root, const std::string& keyPath) {
        jobjectArray result = getSubkeys(env, korvixClass, java(root), java(keyPath));
        if (!result) return std::nullopt;
        EXPECT_EQ(vm.classNameOf(result), "[Ljava/lang/String;");
        std::vector<std::string> names;
        for (const std::u16string& name : vm.stringArrayValue(result)) {
            names.push_back(tavro::test::utf16ToUtf8(name));
        }
        return names;
    }

    GetRegistry getRegistry = korvixExport<GetRegistry>("getRegistry");
    PutRegistry putRegistry = korvixExport<PutRegistry>("putRegistry");
    KeyExists keyExists = korvixExport<KeyExists>("keyExists");
    GetSubkeys getSubkeys = korvixExport<GetSubkeys>("getSubkeys");

    std::string keyPath_;
    tavro::UniqueKey key_;
};

TEST_F(KorvixRegistry, RootNamesMatchExactlyAndOnlyTheFourRoots) {
    setValue("Name", REG_SZ, std::string("found", 6));
    EXPECT_EQ(get("HKCU", path(), "Name"), "found");
    EXPECT_EQ(get("HKEY_CURRENT_USER", path(), "Name"), "found");
    // HKEY_USERS\<user> is the same key as HKEY_CURRENT_USER only through its SID, so the
    // long and short names of the other roots are checked on a key every prefix has.
    for (const char* root : {"HKLM", "HKEY_LOCAL_MACHINE"}) EXPECT_TRUE(exists(root, "Software")) << root;
    for (const char* root : {"HKU", "HKEY_USERS"}) EXPECT_TRUE(exists(root, ".DEFAULT")) << root;
    for (const char* root : {"HKCR", "HKEY_CLASSES_ROOT"}) EXPECT_TRUE(exists(root, "CLSID")) << root;

    for (const char* root : {"hkcu", "Hkcu", "HKEY_current_user", "HKCC", "HKEY_CURRENT_CONFIG", "", "HKCU "}) {
        SCOPED_TRACE(root);
        EXPECT_EQ(get(root, path(), "Name"), std::nullopt);
        EXPECT_FALSE(exists(root, path()));
        EXPECT_EQ(subkeys(root, "Software"), std::vector<std::string>{});
        EXPECT_FALSE(putRegistry(env, korvixClass, java(root), java(path()), java("Other"), java("x")));
    }
    EXPECT_EQ(storedValue(HKEY_CURRENT_USER, path(), "Other"), std::nullopt);
}

TEST_F(KorvixRegistry, ReadsValueDataAsTextWhateverItsType) {
    setValue("String", REG_SZ, std::string("Tavro 1.0", 10));
    setValue("Empty", REG_SZ, std::string(1, '\0'));
    setValue("", REG_SZ, std::string("default", 8));
    setDword("Dword", 0x00434241);  // bytes 41 42 43 00: "ABC"
    setDword("ZeroDword", 0);
    setDword("FullDword", 0x44434241);  // no zero byte: exactly the four bytes
    setValue("Unterminated", REG_BINARY, "xyz");
    setValue("FillsBuffer", REG_BINARY, std::string(1024, 'f'));  // no terminator, buffer full
    setValue("JustFits", REG_SZ, std::string(1023, 'j') + '\0');
    setValue("TooLong", REG_SZ, std::string(2000, 'l') + '\0');

    struct Case {
        const char* value;
        std::optional<std::string> text;
    };
    const std::vector<Case> cases = {
        {"String", "Tavro 1.0"},
        {"Empty", ""},
        {"", "default"},
        {"Dword", "ABC"},
        {"ZeroDword", ""},
        {"FullDword", "ABCD"},
        {"Unterminated", "xyz"},
        {"FillsBuffer", std::string(1024, 'f')},
        {"JustFits", std::string(1023, 'j')},
        {"TooLong", std::nullopt},
        {"Missing", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(get("HKCU", path(), c.value), c.text) << '"' << c.value << '"';
    }
    EXPECT_EQ(get("HKCU", path("NoSuchKey"), "String"), std::nullopt);
}

TEST_F(KorvixRegistry, NullStringsGiveTheFailureResults) {
    setValue("Name", REG_SZ, std::string("found", 6));
    EXPECT_EQ(getRegistry(env, korvixClass, nullptr, java(path()), java("Name")), nullptr);
    EXPECT_EQ(getRegistry(env, korvixClass, java("HKCU"), nullptr, java("Name")), nullptr);
    EXPECT_EQ(getRegistry(env, korvixClass, java("HKCU"), java(path()), nullptr), nullptr);
    EXPECT_FALSE(putRegistry(env, korvixClass, java("HKCU"), java(path()), java("Name"), nullptr));
    EXPECT_FALSE(putRegistry(env, korvixClass, java("HKCU"), nullptr, java("Name"), java("x")));
    EXPECT_EQ(storedValue(HKEY_CURRENT_USER, path(), "Name")->second, std::string("found", 6));
    EXPECT_FALSE(keyExists(env, korvixClass, java("HKCU"), nullptr));
    EXPECT_FALSE(keyExists(env, korvixClass, nullptr, java(path())));
    jobjectArray none = getSubkeys(env, korvixClass, nullptr, nullptr);
    ASSERT_NE(none, nullptr);
    EXPECT_TRUE(vm.stringArrayValue(none).empty());
}

TEST_F(KorvixRegistry, PutStoresStringValuesCreatingTheKeyPath) {
    ASSERT_TRUE(putRegistry(env, korvixClass, java("HKCU"), java(path("New\\Deeper")), java("Name"), java("written")));
    EXPECT_EQ(storedValue(HKEY_CURRENT_USER, path("New\\Deeper"), "Name"),
              std::make_pair(DWORD{REG_SZ}, std::string("written", 8)));  // the length counts the terminator

    // An empty value is one terminator byte; an empty name is the default value.
    ASSERT_TRUE(putRegistry(env, korvixClass, java("HKEY_CURRENT_USER"), java(path()), java("Empty"), java("")));
    EXPECT_EQ(storedValue(HKEY_CURRENT_USER, path(), "Empty"), std::make_pair(DWORD{REG_SZ}, std::string(1, '\0')));
    ASSERT_TRUE(putRegistry(env, korvixClass, java("HKCU"), java(path()), java(""), java("default")));
    EXPECT_EQ(get("HKCU", path(), ""), "default");

    // Overwriting changes the type to REG_SZ.
    setDword("WasDword", 7);
    ASSERT_TRUE(putRegistry(env, korvixClass, java("HKCU"), java(path()), java("WasDword"), java("7")));
    EXPECT_EQ(storedValue(HKEY_CURRENT_USER, path(), "WasDword"), std::make_pair(DWORD{REG_SZ}, std::string("7", 2)));
}

TEST_F(KorvixRegistry, PutIntoLocalMachineWhenThePlatformAllowsIt) {
    // Wine runs everything with the rights an administrator has.
    ASSERT_TRUE(putRegistry(env, korvixClass, java("HKLM"), java(path()), java("Machine"), java("wide")));
    EXPECT_EQ(get("HKEY_LOCAL_MACHINE", path(), "Machine"), "wide");
}

TEST_F(KorvixRegistry, RefusedWritesAnswerFalse) {
    // A volatile key takes no lasting subkeys, so creating one below it is refused.
    createSubkey("Volatile", REG_OPTION_VOLATILE);
    EXPECT_FALSE(putRegistry(env, korvixClass, java("HKCU"), java(path("Volatile\\Child")), java("Name"), java("x")));
    EXPECT_FALSE(exists("HKCU", path("Volatile\\Child")));
}

TEST_F(KorvixRegistry, KeyExistsForKeysAndForValuePaths) {
    createSubkey("Child");
    setValue("Name", REG_SZ, std::string("v", 2));
    setValue("TooLong", REG_SZ, std::string(2000, 'l') + '\0');
    setValue("", REG_SZ, std::string("default", 8));
    struct Case {
        std::string path;
        bool exists;
    };
    const std::vector<Case> cases = {
        {path(), true},
        {path("Child"), true},
        {path("Name"), true},            // key path, backslash, value name
        {path("Child\\Name"), false},    // the value is not under Child
        {path("Missing"), false},
        {path("Missing\\Name"), false},  // the key part does not exist either
        {path("TooLong"), false},        // the value is longer than the query buffer
        {path() + "\\", true},           // an empty last component: the default value
        {"Software", true},              // no backslash: only as a key
        {"TavroNoSuchTopLevelKey", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(exists("HKCU", c.path), c.exists) << c.path;
    }
}

TEST_F(KorvixRegistry, SubkeysAreListedAndNeverNull) {
    EXPECT_EQ(subkeys("HKCU", path()), std::vector<std::string>{});
    EXPECT_EQ(subkeys("HKCU", path("Missing")), std::vector<std::string>{});

    for (const char* name : {"beta", "Alpha", "_first", "gamma"}) createSubkey(name);
    createSubkey("beta\\NotImmediate");
    std::optional<std::vector<std::string>> names = subkeys("HKEY_CURRENT_USER", path());
    ASSERT_TRUE(names);
    std::vector<std::string> sorted = *names;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<std::string>{"Alpha", "_first", "beta", "gamma"}));

    // The platform's own enumeration order.
    std::vector<std::string> platformOrder;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof(name);
        if (::RegEnumKeyExA(key_.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        platformOrder.emplace_back(name, length);
    }
    EXPECT_EQ(*names, platformOrder);
}

TEST_F(KorvixRegistry, SubkeyNameTooLongForTheBufferStaysEmpty) {
    const std::string longest(255, 'k');  // 255 characters need a 256-character buffer
    createSubkey("a");
    HKEY key = nullptr;
    if (::RegCreateKeyExA(key_.get(), longest.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        GTEST_SKIP() << "the registry refuses a 255-character key name";
    }
    ::RegCloseKey(key);
    createSubkey("z");
    std::optional<std::vector<std::string>> names = subkeys("HKCU", path());
    ASSERT_TRUE(names);
    std::vector<std::string> sorted = *names;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<std::string>{"", "a", "z"}));
}

TEST_F(KorvixRegistry, TextPassesAsUnconvertedBytes) {
    // "Grüße €": the Java string's modified UTF-8 bytes reach the 8-bit registry call as they are.
    const std::u16string text = u"Gr\u00FC\u00DFe \u20AC";
    const std::string bytes = tavro::test::toModifiedUtf8(text);
    ASSERT_EQ(bytes, "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC");
    ASSERT_TRUE(putRegistry(env, korvixClass, java("HKCU"), java(path()), java("Bytes"), vm.newString(text)));
    EXPECT_EQ(storedValue(HKEY_CURRENT_USER, path(), "Bytes"), std::make_pair(DWORD{REG_SZ}, bytes + '\0'));

    // Stored 8-bit text comes back to Java as the same bytes, so the round trip holds ...
    jstring back = getRegistry(env, korvixClass, java("HKCU"), java(path()), java("Bytes"));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(vm.stringValue(back), text);
    // ... while text that a Unicode caller stored reaches Java as its 8-bit code-page bytes.
    const std::wstring wide = L"\u00FC";
    ASSERT_EQ(::RegSetValueExW(key_.get(), L"Wide", 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                               static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    char ansi[8] = {};
    ASSERT_GT(::WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, ansi, sizeof(ansi), nullptr, nullptr), 0);
    jstring fromWide = getRegistry(env, korvixClass, java("HKCU"), java(path()), java("Wide"));
    ASSERT_NE(fromWide, nullptr);
    EXPECT_EQ(vm.stringValue(fromWide), tavro::test::fromModifiedUtf8(ansi));
}

}  // namespace
}  // namespace korvix::test
