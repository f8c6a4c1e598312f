#include "registry.h"

#include "java_strings.h"
#include "registry_paths.h"

#include <tavro/boundary.h>
#include <tavro/jni_refs.h>
#include <tavro/win_handles.h>

#include <com_vyk_util_jni_Korvix.h>

#include <windows.h>

#include <algorithm>
#include <array>
#include <string>

namespace korvix {

namespace {

HKEY predefinedKey(RegistryRoot root) {
    switch (root) {
        case RegistryRoot::classesRoot: return HKEY_CLASSES_ROOT;
        case RegistryRoot::currentUser: return HKEY_CURRENT_USER;
        case RegistryRoot::localMachine: return HKEY_LOCAL_MACHINE;
        case RegistryRoot::users: return HKEY_USERS;
    }
    return nullptr;
}

// The root key a Java root name selects; null for a null or unknown name.
HKEY rootKeyNamed(const char* name) {
    if (!name) return nullptr;
    const std::optional<RegistryRoot> root = lookupRegistryRoot(name);
    return root ? predefinedKey(*root) : nullptr;
}

tavro::UniqueKey openForReading(HKEY root, const char* subKey) {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(root, subKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return nullptr;
    return tavro::UniqueKey(key);
}

// Queries one value of any type into the fixed buffer; nothing when it is missing or too long.
std::optional<std::string> queryValueText(HKEY key, const char* valueName) {
    std::array<char, kRegistryValueBufferBytes> data;
    DWORD length = static_cast<DWORD>(data.size());
    if (::RegQueryValueExA(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()), &length) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    return registryDataAsText(data.data(), std::min<std::size_t>(length, data.size()));
}

}  // namespace

std::optional<std::string> readRegistryValue(const char* root, const char* subKey, const char* valueName) {
    const HKEY rootKey = rootKeyNamed(root);
    if (!rootKey || !subKey || !valueName) return std::nullopt;
    const tavro::UniqueKey key = openForReading(rootKey, subKey);
    if (!key) return std::nullopt;
    return queryValueText(key.get(), valueName);
}

bool writeRegistryValue(const char* root, const char* subKey, const char* valueName, const char* value) {
    const HKEY rootKey = rootKeyNamed(root);
    if (!rootKey || !subKey || !valueName || !value) return false;
    HKEY created = nullptr;
    if (::RegCreateKeyExA(rootKey, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &created,
                          nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const tavro::UniqueKey key(created);
    // The stored length counts the terminating zero byte.
    const DWORD length = static_cast<DWORD>(std::char_traits<char>::length(value) + 1);
    return ::RegSetValueExA(key.get(), valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), length) ==
           ERROR_SUCCESS;
}

bool registryKeyOrValueExists(const char* root, const char* path) {
    const HKEY rootKey = rootKeyNamed(root);
    if (!rootKey || !path) return false;
    if (openForReading(rootKey, path)) return true;
    const KeyAndValue parts = splitAtLastBackslash(path);
    const tavro::UniqueKey key = openForReading(rootKey, parts.keyPath.c_str());
    return key && queryValueText(key.get(), parts.valueName.c_str()).has_value();
}

std::vector<std::string> registrySubkeyNames(const char* root, const char* subKey) {
    const HKEY rootKey = rootKeyNamed(root);
    if (!rootKey || !subKey) return {};
    const tavro::UniqueKey key = openForReading(rootKey, subKey);
    if (!key) return {};
    DWORD count = 0;
    if (::RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr,
                           nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
        return {};
    }
    std::vector<std::string> names(count);
    for (DWORD index = 0; index < count; ++index) {
        std::array<char, kSubkeyNameBufferChars> name;
        DWORD nameLength = static_cast<DWORD>(name.size());
        if (::RegEnumKeyExA(key.get(), index, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr) ==
            ERROR_SUCCESS) {
            names[index].assign(name.data(), std::min<std::size_t>(nameLength, name.size()));
        }
    }
    return names;
}

}  // namespace korvix

using korvix::ByteFormString;

extern "C" {

JNIEXPORT jstring JNICALL Java_com_vyk_util_jni_Korvix_getRegistry(JNIEnv* env, jclass, jstring root,
                                                                   jstring subKey, jstring valueName) {
    return tavro::guardBoundary<jstring>(nullptr, [&]() -> jstring {
        std::optional<std::string> text;
        {
            const ByteFormString rootName(env, root), key(env, subKey), value(env, valueName);
            text = korvix::readRegistryValue(rootName.get(), key.get(), value.get());
        }
        return text ? korvix::newByteFormString(env, text->c_str()) : nullptr;
    });
}

JNIEXPORT jboolean JNICALL Java_com_vyk_util_jni_Korvix_putRegistry(JNIEnv* env, jclass, jstring root,
                                                                    jstring subKey, jstring valueName,
                                                                    jstring value) {
    return tavro::guardBoundary(jboolean(JNI_FALSE), [&] {
        const ByteFormString rootName(env, root), key(env, subKey), name(env, valueName), data(env, value);
        return korvix::toJava(korvix::writeRegistryValue(rootName.get(), key.get(), name.get(), data.get()));
    });
}

JNIEXPORT jboolean JNICALL Java_com_vyk_util_jni_Korvix_keyExists(JNIEnv* env, jclass, jstring root,
                                                                  jstring path) {
    return tavro::guardBoundary(jboolean(JNI_FALSE), [&] {
        const ByteFormString rootName(env, root), keyPath(env, path);
        return korvix::toJava(korvix::registryKeyOrValueExists(rootName.get(), keyPath.get()));
    });
}

JNIEXPORT jobjectArray JNICALL Java_com_vyk_util_jni_Korvix_getSubkeys(JNIEnv* env, jclass, jstring root,
                                                                       jstring subKey) {
    const jobjectArray listed = tavro::guardBoundary<jobjectArray>(nullptr, [&]() -> jobjectArray {
        std::vector<std::string> names;
        {
            const ByteFormString rootName(env, root), key(env, subKey);
            names = korvix::registrySubkeyNames(rootName.get(), key.get());
        }
        if (env->ExceptionCheck()) return nullptr;  // the VM could not give the strings
        if (names.empty()) return nullptr;

        const tavro::JniLocalRef<jclass> stringClass(env, env->FindClass("java/lang/String"));
        if (!stringClass) return nullptr;
        const tavro::JniLocalRef<jstring> empty(env, env->NewStringUTF(""));
        if (!empty) return nullptr;
        jobjectArray result =
            env->NewObjectArray(static_cast<jsize>(names.size()), stringClass.get(), empty.get());
        if (!result) return nullptr;
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (names[i].empty()) continue;
            const tavro::JniLocalRef<jstring> element(env, korvix::newByteFormString(env, names[i].c_str()));
            if (!element) break;  // the VM is out of memory: the rest stay empty
            env->SetObjectArrayElement(result, static_cast<jsize>(i), element.get());
        }
        return result;
    });
    if (listed || env->ExceptionCheck()) return listed;
    // Never null: a key without subkeys, or one whose names could not be read for want of
    // memory here, lists none.
    const tavro::JniLocalRef<jclass> stringClass(env, env->FindClass("java/lang/String"));
    return stringClass ? env->NewObjectArray(0, stringClass.get(), nullptr) : nullptr;
}

}  // extern "C"
