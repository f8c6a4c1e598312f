// The object model and the JNIEnv/JavaVM tables of the Java VM stand-in.
#include "java_vm_standin.h"

#include "jni_slots.h"

#include <array>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <type_traits>
#include <unordered_set>
#include <utility>

namespace tavro::test {

namespace {

// Misuse of the JNI that a real VM would crash on (or silently corrupt memory with) ends
// the test program at once, with the reason.
[[noreturn]] void misuse(const std::string& what) {
    std::fprintf(stderr, "JavaVmStandIn: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

std::string dotted(std::string name) {
    for (char& c : name) {
        if (c == '/') c = '.';
    }
    return name;
}

std::size_t primitiveSize(char code) {
    switch (code) {
        case 'Z': case 'B': return 1;
        case 'C': case 'S': return 2;
        case 'I': case 'F': return 4;
        case 'J': case 'D': return 8;
        default: return 0;
    }
}

// Parses "(ILjava/lang/String;[J)V" into one code per argument ('L' for any reference)
// and the result's code ('L' for any reference, 'V' for none).
bool parseSignature(const std::string& sig, std::vector<char>& args, char& result) {
    args.clear();
    if (sig.empty() || sig[0] != '(') return false;
    std::size_t i = 1;
    auto parseType = [&](char& code, bool allowVoid) -> bool {
        if (i >= sig.size()) return false;
        bool array = false;
        while (i < sig.size() && sig[i] == '[') {
            array = true;
            ++i;
        }
        if (i >= sig.size()) return false;
        const char c = sig[i];
        if (c == 'L') {
            const std::size_t end = sig.find(';', i);
            if (end == std::string::npos || end == i + 1) return false;
            i = end + 1;
            code = 'L';
            return true;
        }
        if (primitiveSize(c) != 0 || (c == 'V' && allowVoid && !array)) {
            ++i;
            code = array ? 'L' : c;
            return true;
        }
        return false;
    };
    while (i < sig.size() && sig[i] != ')') {
        char code = 0;
        if (!parseType(code, false)) return false;
        args.push_back(code);
    }
    if (i >= sig.size()) return false;
    ++i;  // ')'
    if (!parseType(result, true)) return false;
    return i == sig.size();
}

struct Registry {
    std::mutex mutex;
    std::map<const void*, JavaVmStandIn::Impl*> byEnvOrVm;
};
Registry& registry() {
    static Registry instance;
    return instance;
}

}  // namespace

struct ClassInfo;

enum class ObjectKind { Class, Instance, String, ObjectArray, PrimitiveArray };

struct JavaObject {
    ObjectKind kind;
    ClassInfo* cls;
    ClassInfo* described = nullptr;         // Class: the class it stands for
    std::u16string text;                    // String
    std::optional<std::u16string> message;  // Throwable
    std::vector<JavaObject*> elements;      // ObjectArray
    char primitive = 0;                     // PrimitiveArray: element code
    std::vector<unsigned char> bytes;       // PrimitiveArray: the elements' bytes
    std::any payload;

    std::size_t length() const {
        if (kind == ObjectKind::ObjectArray) return elements.size();
        return bytes.size() / primitiveSize(primitive);
    }
};

struct MethodInfo {
    ClassInfo* owner;
    std::string name;
    std::string sig;
    bool isStatic;
    JavaVmStandIn::Method body;
    std::vector<char> argCodes;
    char resultCode;
    int calls = 0;
};

struct ClassInfo {
    std::string name;
    ClassInfo* super = nullptr;
    ClassInfo* component = nullptr;  // object arrays
    char primitiveComponent = 0;     // primitive arrays
    JavaObject* object = nullptr;
    std::map<std::string, std::unique_ptr<MethodInfo>> methods;  // by name + signature
};

enum class AcquisitionKind { UtfChars, StringChars, StringCritical, ArrayElements, ArrayCritical };

struct Acquisition {
    AcquisitionKind kind;
    JavaObject* target;
    std::unique_ptr<unsigned char[]> buffer;
};

// What each JNI function may do while an exception is pending or a critical region is held.
enum class Rule {
    Ordinary,       // neither
    ExceptionSafe,  // allowed with an exception pending (queries, reference deletion, frames)
    Release,        // releases: allowed in both situations
    Critical,       // Get*Critical: allowed (nested) inside a critical region
};

struct JavaVmStandIn::Impl {
    explicit Impl(JavaVmStandIn& owner);
    ~Impl();

    static Impl& of(JNIEnv* env);
    static Impl& of(JavaVM* vm);

    void check(Rule rule, const char* function);

    // --- objects ---
    JavaObject* make(ObjectKind kind, ClassInfo* cls);
    JavaObject* deref(const void* ref) const;
    JavaObject* need(const void* ref, const char* function) const;
    JavaObject* needString(const void* ref, const char* function) const;
    JavaObject* needArray(const void* ref, const char* function) const;
    JavaObject* needPrimitiveArray(const void* ref, char code, const char* function) const;
    ClassInfo* needClass(const void* ref, const char* function) const;
    JavaObject* newStringObject(std::u16string text);
    JavaObject* newPrimitiveArray(char code, std::size_t length);
    template <typename T = jobject>
    T local(JavaObject* o) {
        if (o) ++liveLocals;
        return reinterpret_cast<T>(o);
    }

    // --- classes ---
    ClassInfo* find(const std::string& name);  // also makes array classes of known components
    ClassInfo* define(const std::string& name, const std::string& superclass);
    ClassInfo* ensure(const std::string& name);  // defines unknown classes under java/lang/Object
    ClassInfo* arrayClassOf(ClassInfo* component);
    ClassInfo* primitiveArrayClass(char code);
    static bool assignable(const ClassInfo* from, const ClassInfo* to);
    MethodInfo* defineMethod(ClassInfo* cls, const std::string& name, const std::string& sig, Method body,
                             bool isStatic);
    MethodInfo* findMethod(ClassInfo* cls, const std::string& name, const std::string& sig, bool isStatic);
    MethodInfo* needMethod(jmethodID id, const char* function) const;

    // --- exceptions ---
    void raise(const std::string& cls, const std::optional<std::u16string>& message);
    void raise(const std::string& cls, const std::string& message) {
        raise(cls, std::optional<std::u16string>(utf8ToUtf16(message)));
    }
    void describe(const std::string& line);

    // --- calls ---
    std::vector<jvalue> argsFromArray(const MethodInfo& m, const jvalue* args) const;
    std::vector<jvalue> argsFromList(const MethodInfo& m, va_list* args) const;
    jvalue invoke(MethodInfo& m, JavaObject* self, const std::vector<jvalue>& args);

    // --- acquisitions ---
    void* acquire(AcquisitionKind kind, JavaObject* target, const void* data, std::size_t size);
    Acquisition takeBack(const void* buffer, AcquisitionKind kind, const void* target, const char* function);

    JavaVmStandIn& owner;
    mutable std::recursive_mutex mutex;
    JNINativeInterface_ envTable{};
    JNIInvokeInterface_ vmTable{};
    JNIEnv envValue{};  // the registry maps these addresses back to this stand-in
    JavaVM vmValue{};

    std::vector<std::unique_ptr<JavaObject>> objects;
    std::unordered_set<const void*> known;
    std::map<std::string, std::unique_ptr<ClassInfo>> classes;
    std::unordered_set<const void*> methodIds;
    std::map<std::string, std::string> properties;

    std::set<std::string> failingClasses;
    bool failCritical = false;
    bool failChars = false;
    bool failElements = false;
    bool failNew = false;
    std::function<bool(const char*)> faultDecider;  // asked by every call that can fail

    // Whether a call that can fail does so now: by its switch, or by the test's decision.
    bool fails(bool switchedOn, const char* function) const {
        return switchedOn || (faultDecider && faultDecider(function));
    }

    JavaObject* pending = nullptr;
    int describedCount = 0;
    int pendingViolations = 0;
    int criticalViolations = 0;
    int criticalHeld = 0;
    int liveLocals = 0;
    std::vector<int> frames;
    jint lastRelease = -1;
    std::map<const void*, Acquisition> acquisitions;

    std::vector<std::string> fatal;
    std::function<void(const std::string&)> fatalHandler;
    std::function<jint()> destroyHook;
    int destroyCount = 0;
    std::vector<std::string> describedText;
};

// ---------------------------------------------------------------------------------------
// Object model

JavaObject* JavaVmStandIn::Impl::make(ObjectKind kind, ClassInfo* cls) {
    objects.push_back(std::make_unique<JavaObject>());
    JavaObject* o = objects.back().get();
    o->kind = kind;
    o->cls = cls;
    known.insert(o);
    return o;
}

JavaObject* JavaVmStandIn::Impl::deref(const void* ref) const {
    if (!ref) return nullptr;
    if (!known.count(ref)) misuse("a reference that is no object of this VM was passed in");
    return static_cast<JavaObject*>(const_cast<void*>(ref));
}

JavaObject* JavaVmStandIn::Impl::need(const void* ref, const char* function) const {
    JavaObject* o = deref(ref);
    if (!o) misuse(std::string(function) + " was given a null reference");
    return o;
}

JavaObject* JavaVmStandIn::Impl::needString(const void* ref, const char* function) const {
    JavaObject* o = need(ref, function);
    if (o->kind != ObjectKind::String)
        misuse(std::string(function) + " was given a " + o->cls->name + " where a string belongs");
    return o;
}

JavaObject* JavaVmStandIn::Impl::needArray(const void* ref, const char* function) const {
    JavaObject* o = need(ref, function);
    if (o->kind != ObjectKind::ObjectArray && o->kind != ObjectKind::PrimitiveArray)
        misuse(std::string(function) + " was given a " + o->cls->name + " where an array belongs");
    return o;
}

JavaObject* JavaVmStandIn::Impl::needPrimitiveArray(const void* ref, char code, const char* function) const {
    JavaObject* o = need(ref, function);
    if (o->kind != ObjectKind::PrimitiveArray || (code != 0 && o->primitive != code))
        misuse(std::string(function) + " was given a " + o->cls->name + " where a [" +
               std::string(1, code ? code : '?') + " belongs");
    return o;
}

ClassInfo* JavaVmStandIn::Impl::needClass(const void* ref, const char* function) const {
    JavaObject* o = need(ref, function);
    if (o->kind != ObjectKind::Class)
        misuse(std::string(function) + " was given a " + o->cls->name + " where a class belongs");
    return o->described;
}

JavaObject* JavaVmStandIn::Impl::newStringObject(std::u16string text) {
    JavaObject* o = make(ObjectKind::String, classes.at("java/lang/String").get());
    o->text = std::move(text);
    return o;
}

JavaObject* JavaVmStandIn::Impl::newPrimitiveArray(char code, std::size_t length) {
    JavaObject* o = make(ObjectKind::PrimitiveArray, primitiveArrayClass(code));
    o->primitive = code;
    o->bytes.assign(length * primitiveSize(code), 0);
    return o;
}

ClassInfo* JavaVmStandIn::Impl::define(const std::string& name, const std::string& superclass) {
    if (name.empty() || name.find('.') != std::string::npos)
        misuse("class names are written with slashes: \"" + name + "\"");
    if (name[0] == '[') return ensure(name);
    auto it = classes.find(name);
    if (it != classes.end()) return it->second.get();
    ClassInfo* super = nullptr;
    if (name != "java/lang/Object") super = define(superclass.empty() ? "java/lang/Object" : superclass,
                                                   "java/lang/Object");
    auto info = std::make_unique<ClassInfo>();
    info->name = name;
    info->super = super;
    ClassInfo* cls = info.get();
    classes.emplace(name, std::move(info));
    auto classClass = classes.find("java/lang/Class");
    // java/lang/Class itself is made before its own object can be.
    cls->object = make(ObjectKind::Class, classClass == classes.end() ? nullptr : classClass->second.get());
    cls->object->described = cls;
    return cls;
}

ClassInfo* JavaVmStandIn::Impl::arrayClassOf(ClassInfo* component) {
    const std::string name =
        component->name[0] == '[' ? "[" + component->name : "[L" + component->name + ";";
    auto it = classes.find(name);
    if (it != classes.end()) return it->second.get();
    auto info = std::make_unique<ClassInfo>();
    info->name = name;
    info->super = classes.at("java/lang/Object").get();
    info->component = component;
    ClassInfo* array = info.get();
    classes.emplace(name, std::move(info));
    array->object = make(ObjectKind::Class, classes.at("java/lang/Class").get());
    array->object->described = array;
    return array;
}

ClassInfo* JavaVmStandIn::Impl::primitiveArrayClass(char code) {
    const std::string name = std::string("[") + code;
    auto it = classes.find(name);
    if (it != classes.end()) return it->second.get();
    auto info = std::make_unique<ClassInfo>();
    info->name = name;
    info->super = classes.at("java/lang/Object").get();
    info->primitiveComponent = code;
    ClassInfo* array = info.get();
    classes.emplace(name, std::move(info));
    array->object = make(ObjectKind::Class, classes.at("java/lang/Class").get());
    array->object->described = array;
    return array;
}

ClassInfo* JavaVmStandIn::Impl::find(const std::string& name) {
    auto it = classes.find(name);
    if (it != classes.end()) return it->second.get();
    if (name.size() < 2 || name[0] != '[') return nullptr;
    const std::string rest = name.substr(1);
    if (rest.size() == 1 && primitiveSize(rest[0]) != 0) return primitiveArrayClass(rest[0]);
    if (rest[0] == '[') {
        ClassInfo* component = find(rest);
        return component ? arrayClassOf(component) : nullptr;
    }
    if (rest[0] == 'L' && rest.back() == ';' && rest.size() > 2) {
        ClassInfo* component = find(rest.substr(1, rest.size() - 2));
        return component ? arrayClassOf(component) : nullptr;
    }
    return nullptr;
}

ClassInfo* JavaVmStandIn::Impl::ensure(const std::string& name) {
    if (ClassInfo* cls = find(name)) return cls;
    if (name.size() >= 2 && name[0] == '[') {
        const std::string rest = name.substr(1);
        if (rest[0] == '[') return arrayClassOf(ensure(rest));
        if (rest[0] == 'L' && rest.back() == ';' && rest.size() > 2)
            return arrayClassOf(ensure(rest.substr(1, rest.size() - 2)));
        misuse("not a class name: \"" + name + "\"");
    }
    return define(name, "java/lang/Object");
}

bool JavaVmStandIn::Impl::assignable(const ClassInfo* from, const ClassInfo* to) {
    if (from == to || to->name == "java/lang/Object") return true;
    if (from->component && to->component) return assignable(from->component, to->component);
    if (from->primitiveComponent || to->primitiveComponent || to->component) return false;
    for (const ClassInfo* c = from->super; c; c = c->super) {
        if (c == to) return true;
    }
    return false;
}

MethodInfo* JavaVmStandIn::Impl::defineMethod(ClassInfo* cls, const std::string& name, const std::string& sig,
                                              Method body, bool isStatic) {
    std::vector<char> args;
    char result = 0;
    if (!parseSignature(sig, args, result)) misuse("malformed method signature \"" + sig + "\"");
    if (!body) misuse("method " + cls->name + "." + name + " defined without a body");
    auto& slot = cls->methods[name + sig];
    if (!slot) {
        slot = std::make_unique<MethodInfo>();
        methodIds.insert(slot.get());
    }
    slot->owner = cls;
    slot->name = name;
    slot->sig = sig;
    slot->isStatic = isStatic;
    slot->body = std::move(body);
    slot->argCodes = std::move(args);
    slot->resultCode = result;
    return slot.get();
}

MethodInfo* JavaVmStandIn::Impl::findMethod(ClassInfo* cls, const std::string& name, const std::string& sig,
                                            bool isStatic) {
    const bool constructor = name == "<init>";
    for (ClassInfo* c = cls; c; c = c->super) {
        auto it = c->methods.find(name + sig);
        if (it != c->methods.end() && it->second->isStatic == isStatic) return it->second.get();
        if (constructor) break;  // constructors are not inherited
    }
    return nullptr;
}

MethodInfo* JavaVmStandIn::Impl::needMethod(jmethodID id, const char* function) const {
    if (!id) misuse(std::string(function) + " was given a null method id");
    if (!methodIds.count(id)) misuse(std::string(function) + " was given a method id of no method of this VM");
    return reinterpret_cast<MethodInfo*>(id);
}

void JavaVmStandIn::Impl::raise(const std::string& cls, const std::optional<std::u16string>& message) {
    ClassInfo* c = find(cls);
    if (!c) c = define(cls, "java/lang/RuntimeException");
    JavaObject* e = make(ObjectKind::Instance, c);
    e->message = message;
    pending = e;
}

void JavaVmStandIn::Impl::describe(const std::string& line) {
    describedText.push_back(line);
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

void JavaVmStandIn::Impl::check(Rule rule, const char* function) {
    if (pending && (rule == Rule::Ordinary || rule == Rule::Critical)) {
        ++pendingViolations;
        std::fprintf(stderr, "JavaVmStandIn: WARNING: %s called with an exception pending\n", function);
    }
    if (criticalHeld > 0 && (rule == Rule::Ordinary || rule == Rule::ExceptionSafe)) {
        ++criticalViolations;
        std::fprintf(stderr, "JavaVmStandIn: WARNING: %s called inside a critical region\n", function);
    }
}

void* JavaVmStandIn::Impl::acquire(AcquisitionKind kind, JavaObject* target, const void* data, std::size_t size) {
    // Exactly the size handed out, so that a sanitizer sees any access past the end.
    Acquisition a{kind, target, std::unique_ptr<unsigned char[]>(new unsigned char[size])};
    if (size) std::memcpy(a.buffer.get(), data, size);
    void* buffer = a.buffer.get();
    acquisitions.emplace(buffer, std::move(a));
    return buffer;
}

Acquisition JavaVmStandIn::Impl::takeBack(const void* buffer, AcquisitionKind kind, const void* target,
                                          const char* function) {
    auto it = acquisitions.find(buffer);
    if (it == acquisitions.end())
        misuse(std::string(function) + " was given a pointer that this VM did not hand out (or that was released)");
    if (it->second.kind != kind)
        misuse(std::string(function) + " was given a pointer handed out by a different Get function");
    if (it->second.target != deref(target))
        misuse(std::string(function) + " was given a pointer taken from a different string or array");
    Acquisition a = std::move(it->second);
    acquisitions.erase(it);
    return a;
}

std::vector<jvalue> JavaVmStandIn::Impl::argsFromArray(const MethodInfo& m, const jvalue* args) const {
    if (!m.argCodes.empty() && !args) misuse("Call...MethodA: null argument array for " + m.name + m.sig);
    return std::vector<jvalue>(args, args + m.argCodes.size());
}

std::vector<jvalue> JavaVmStandIn::Impl::argsFromList(const MethodInfo& m, va_list* args) const {
    std::vector<jvalue> values;
    for (char code : m.argCodes) {
        jvalue v{};
        switch (code) {  // what the caller's arguments were promoted to
            case 'Z': v.z = static_cast<jboolean>(va_arg(*args, int)); break;
            case 'B': v.b = static_cast<jbyte>(va_arg(*args, int)); break;
            case 'C': v.c = static_cast<jchar>(va_arg(*args, int)); break;
            case 'S': v.s = static_cast<jshort>(va_arg(*args, int)); break;
            case 'I': v.i = va_arg(*args, jint); break;
            case 'J': v.j = va_arg(*args, jlong); break;
            case 'F': v.f = static_cast<jfloat>(va_arg(*args, double)); break;
            case 'D': v.d = va_arg(*args, double); break;
            default: v.l = va_arg(*args, jobject); break;
        }
        values.push_back(v);
    }
    return values;
}

jvalue JavaVmStandIn::Impl::invoke(MethodInfo& m, JavaObject* self, const std::vector<jvalue>& args) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (m.argCodes[i] == 'L') deref(args[i].l);  // a bad reference ends the test here, not later
    }
    ++m.calls;
    Method body = m.body;  // the method may redefine itself
    jvalue result = body(owner, reinterpret_cast<jobject>(self), args);
    if (pending) return jvalue{};
    if (m.resultCode == 'L') deref(result.l);
    return result;
}

// ---------------------------------------------------------------------------------------
// The JNIEnv functions. Named as the JNI names them, so the warnings carry the right name.

namespace jni {

using Impl = JavaVmStandIn::Impl;

#define STANDIN_ENTRY(rule)                                   \
    Impl& s = Impl::of(env);                                  \
    std::lock_guard<std::recursive_mutex> guard(s.mutex);     \
    s.check(rule, __func__)

template <typename T>
struct Prim;
#define STANDIN_PRIM(T, ArrayT, code_, member)                         \
    template <>                                                        \
    struct Prim<T> {                                                   \
        using Array = ArrayT;                                          \
        static constexpr char code = code_;                            \
        static T get(const jvalue& v) { return v.member; }             \
    };
STANDIN_PRIM(jboolean, jbooleanArray, 'Z', z)
STANDIN_PRIM(jbyte, jbyteArray, 'B', b)
STANDIN_PRIM(jchar, jcharArray, 'C', c)
STANDIN_PRIM(jshort, jshortArray, 'S', s)
STANDIN_PRIM(jint, jintArray, 'I', i)
STANDIN_PRIM(jlong, jlongArray, 'J', j)
STANDIN_PRIM(jfloat, jfloatArray, 'F', f)
STANDIN_PRIM(jdouble, jdoubleArray, 'D', d)
#undef STANDIN_PRIM

template <typename R>
constexpr char resultCode() {
    if constexpr (std::is_void_v<R>) {
        return 'V';
    } else if constexpr (std::is_same_v<R, jobject>) {
        return 'L';
    } else {
        return Prim<R>::code;
    }
}

template <typename R>
R resultAs(const jvalue& v) {
    if constexpr (std::is_void_v<R>) {
        return;
    } else if constexpr (std::is_same_v<R, jobject>) {
        return v.l;
    } else {
        return Prim<R>::get(v);
    }
}

jint JNICALL GetVersion(JNIEnv* env) {
    STANDIN_ENTRY(Rule::Ordinary);
    return 0x00010008;
}

jclass JNICALL FindClass(JNIEnv* env, const char* name) {
    STANDIN_ENTRY(Rule::Ordinary);
    if (!name) misuse("FindClass was given a null name");
    if (s.fails(s.failingClasses.count(name) != 0, __func__)) {
        s.raise("java/lang/NoClassDefFoundError", std::string(name));
        return nullptr;
    }
    ClassInfo* cls = s.find(name);
    if (!cls) {
        s.raise("java/lang/NoClassDefFoundError", std::string(name));
        return nullptr;
    }
    return s.local<jclass>(cls->object);
}

jclass JNICALL GetSuperclass(JNIEnv* env, jclass sub) {
    STANDIN_ENTRY(Rule::Ordinary);
    ClassInfo* cls = s.needClass(sub, __func__);
    return cls->super ? s.local<jclass>(cls->super->object) : nullptr;
}

jboolean JNICALL IsAssignableFrom(JNIEnv* env, jclass sub, jclass sup) {
    STANDIN_ENTRY(Rule::Ordinary);
    return Impl::assignable(s.needClass(sub, __func__), s.needClass(sup, __func__)) ? JNI_TRUE : JNI_FALSE;
}

jint JNICALL Throw(JNIEnv* env, jthrowable obj) {
    STANDIN_ENTRY(Rule::Ordinary);
    JavaObject* e = s.need(obj, __func__);
    if (!Impl::assignable(e->cls, s.classes.at("java/lang/Throwable").get()))
        misuse("Throw was given a " + e->cls->name + ", which is not a Throwable");
    s.pending = e;
    return JNI_OK;
}

jint JNICALL ThrowNew(JNIEnv* env, jclass clazz, const char* msg) {
    STANDIN_ENTRY(Rule::Ordinary);
    ClassInfo* cls = s.needClass(clazz, __func__);
    if (!Impl::assignable(cls, s.classes.at("java/lang/Throwable").get()))
        misuse("ThrowNew was given " + cls->name + ", which is not a Throwable class");
    s.raise(cls->name, msg ? std::optional<std::u16string>(fromModifiedUtf8(msg)) : std::nullopt);
    return JNI_OK;
}

jthrowable JNICALL ExceptionOccurred(JNIEnv* env) {
    STANDIN_ENTRY(Rule::ExceptionSafe);
    return s.local<jthrowable>(s.pending);
}

void JNICALL ExceptionDescribe(JNIEnv* env) {
    STANDIN_ENTRY(Rule::ExceptionSafe);
    if (!s.pending) return;
    JavaObject* e = s.pending;
    s.pending = nullptr;
    ++s.describedCount;
    std::string line = dotted(e->cls->name);
    if (e->message) line += ": " + utf16ToUtf8(*e->message);
    s.describe(line);
}

void JNICALL ExceptionClear(JNIEnv* env) {
    STANDIN_ENTRY(Rule::ExceptionSafe);
    s.pending = nullptr;
}

jboolean JNICALL ExceptionCheck(JNIEnv* env) {
    STANDIN_ENTRY(Rule::ExceptionSafe);
    return s.pending ? JNI_TRUE : JNI_FALSE;
}

void JNICALL FatalError(JNIEnv* env, const char* msg) {
    std::function<void(const std::string&)> handler;
    std::string message = msg ? msg : "";
    {
        STANDIN_ENTRY(Rule::ExceptionSafe);
        s.fatal.push_back(message);
        handler = s.fatalHandler;
    }
    if (handler) {
        handler(message);
        return;
    }
    std::fprintf(stderr, "FATAL ERROR in native method: %s\n", message.c_str());
    std::fflush(stderr);
    std::abort();
}

jint JNICALL PushLocalFrame(JNIEnv* env, jint capacity) {
    STANDIN_ENTRY(Rule::ExceptionSafe);
    if (capacity < 0) misuse("PushLocalFrame was given a negative capacity");
    s.frames.push_back(s.liveLocals);
    return JNI_OK;
}

jobject JNICALL PopLocalFrame(JNIEnv* env, jobject result) {
    STANDIN_ENTRY(Rule::ExceptionSafe);
    if (s.frames.empty()) misuse("PopLocalFrame without a PushLocalFrame");
    s.deref(result);
    s.liveLocals = s.frames.back();
    s.frames.pop_back();
    return s.local(s.deref(result));
}

jobject JNICALL NewGlobalRef(JNIEnv* env, jobject obj) {
    STANDIN_ENTRY(Rule::Ordinary);
    return reinterpret_cast<jobject>(s.deref(obj));
}

void JNICALL DeleteGlobalRef(JNIEnv* env, jobject obj) {
    STANDIN_ENTRY(Rule::ExceptionSafe);
    s.deref(obj);
}

void JNICALL DeleteLocalRef(JNIEnv* env, jobject obj) {
    STANDIN_ENTRY(Rule::ExceptionSafe);
    if (s.deref(obj)) --s.liveLocals;
}

jboolean JNICALL IsSameObject(JNIEnv* env, jobject a, jobject b) {
    STANDIN_ENTRY(Rule::Ordinary);
    return s.deref(a) == s.deref(b) ? JNI_TRUE : JNI_FALSE;
}

jobject JNICALL NewLocalRef(JNIEnv* env, jobject ref) {
    STANDIN_ENTRY(Rule::Ordinary);
    return s.local(s.deref(ref));
}

jint JNICALL EnsureLocalCapacity(JNIEnv* env, jint capacity) {
    STANDIN_ENTRY(Rule::Ordinary);
    if (capacity < 0) misuse("EnsureLocalCapacity was given a negative capacity");
    return JNI_OK;
}

jweak JNICALL NewWeakGlobalRef(JNIEnv* env, jobject obj) {
    STANDIN_ENTRY(Rule::Ordinary);
    return reinterpret_cast<jweak>(s.deref(obj));
}

void JNICALL DeleteWeakGlobalRef(JNIEnv* env, jweak ref) {
    STANDIN_ENTRY(Rule::ExceptionSafe);
    s.deref(ref);
}

jobject JNICALL AllocObject(JNIEnv* env, jclass clazz) {
    STANDIN_ENTRY(Rule::Ordinary);
    ClassInfo* cls = s.needClass(clazz, __func__);
    if (s.fails(s.failNew, __func__)) {
        s.raise("java/lang/OutOfMemoryError", std::string("Java heap space"));
        return nullptr;
    }
    return s.local(s.make(ObjectKind::Instance, cls));
}

jclass JNICALL GetObjectClass(JNIEnv* env, jobject obj) {
    STANDIN_ENTRY(Rule::Ordinary);
    return s.local<jclass>(s.need(obj, __func__)->cls->object);
}

jboolean JNICALL IsInstanceOf(JNIEnv* env, jobject obj, jclass clazz) {
    STANDIN_ENTRY(Rule::Ordinary);
    ClassInfo* cls = s.needClass(clazz, __func__);
    JavaObject* o = s.deref(obj);
    return !o || Impl::assignable(o->cls, cls) ? JNI_TRUE : JNI_FALSE;
}

jmethodID lookupMethod(Impl& s, jclass clazz, const char* name, const char* sig, bool isStatic,
                       const char* function) {
    ClassInfo* cls = s.needClass(clazz, function);
    if (!name || !sig) misuse(std::string(function) + " was given a null name or signature");
    MethodInfo* m = s.findMethod(cls, name, sig, isStatic);
    if (!m) {
        s.raise("java/lang/NoSuchMethodError", std::string(name));
        return nullptr;
    }
    return reinterpret_cast<jmethodID>(m);
}

jmethodID JNICALL GetMethodID(JNIEnv* env, jclass clazz, const char* name, const char* sig) {
    STANDIN_ENTRY(Rule::Ordinary);
    return lookupMethod(s, clazz, name, sig, false, __func__);
}

jmethodID JNICALL GetStaticMethodID(JNIEnv* env, jclass clazz, const char* name, const char* sig) {
    STANDIN_ENTRY(Rule::Ordinary);
    return lookupMethod(s, clazz, name, sig, true, __func__);
}

// One call of a method, whatever the form of its arguments. Instance calls dispatch on
// the object's class, as the VM does.
jvalue callMethod(JNIEnv* env, jobject target, jmethodID id, bool isStatic, char result, const jvalue* array,
                  va_list* list, const char* function) {
    Impl& s = Impl::of(env);
    std::lock_guard<std::recursive_mutex> guard(s.mutex);
    s.check(Rule::Ordinary, function);
    MethodInfo* m = s.needMethod(id, function);
    if (m->isStatic != isStatic)
        misuse(std::string(function) + " used for " + (m->isStatic ? "static" : "instance") + " method " +
               m->owner->name + "." + m->name + m->sig);
    if (m->resultCode != result)
        misuse(std::string(function) + " used for " + m->owner->name + "." + m->name + m->sig +
               ", which returns another type");
    JavaObject* self = s.need(target, function);
    if (isStatic) {
        if (self->kind != ObjectKind::Class) misuse(std::string(function) + " was given an object, not a class");
    } else {
        if (!Impl::assignable(self->cls, m->owner))
            misuse(std::string(function) + " called " + m->owner->name + "." + m->name + " on a " + self->cls->name);
        if (MethodInfo* override = s.findMethod(self->cls, m->name, m->sig, false)) m = override;
    }
    std::vector<jvalue> args = list ? s.argsFromList(*m, list) : s.argsFromArray(*m, array);
    jvalue value = s.invoke(*m, self, args);
    if (result == 'L' && value.l) ++s.liveLocals;
    return value;
}

template <typename R, typename Self, bool Static>
R JNICALL CallMethodA(JNIEnv* env, Self target, jmethodID id, const jvalue* args) {
    return resultAs<R>(callMethod(env, target, id, Static, resultCode<R>(), args, nullptr, "Call<Type>MethodA"));
}

template <typename R, typename Self, bool Static>
R JNICALL CallMethodV(JNIEnv* env, Self target, jmethodID id, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const jvalue value = callMethod(env, target, id, Static, resultCode<R>(), nullptr, &copy, "Call<Type>MethodV");
    va_end(copy);
    return resultAs<R>(value);
}

template <typename R, typename Self, bool Static>
R JNICALL CallMethod(JNIEnv* env, Self target, jmethodID id, ...) {
    va_list args;
    va_start(args, id);
    const jvalue value = callMethod(env, target, id, Static, resultCode<R>(), nullptr, &args, "Call<Type>Method");
    va_end(args);
    return resultAs<R>(value);
}

jobject newObject(JNIEnv* env, jclass clazz, jmethodID id, const jvalue* array, va_list* list) {
    Impl& s = Impl::of(env);
    std::lock_guard<std::recursive_mutex> guard(s.mutex);
    s.check(Rule::Ordinary, "NewObject");
    ClassInfo* cls = s.needClass(clazz, "NewObject");
    MethodInfo* m = s.needMethod(id, "NewObject");
    if (m->name != "<init>" || m->owner != cls)
        misuse("NewObject was given " + m->owner->name + "." + m->name + ", not a constructor of " + cls->name);
    if (s.fails(s.failNew, __func__)) {
        s.raise("java/lang/OutOfMemoryError", std::string("Java heap space"));
        return nullptr;
    }
    JavaObject* o = s.make(ObjectKind::Instance, cls);
    std::vector<jvalue> args = list ? s.argsFromList(*m, list) : s.argsFromArray(*m, array);
    s.invoke(*m, o, args);
    return s.pending ? nullptr : s.local(o);
}

jobject JNICALL NewObjectA(JNIEnv* env, jclass clazz, jmethodID id, const jvalue* args) {
    return newObject(env, clazz, id, args, nullptr);
}

jobject JNICALL NewObjectV(JNIEnv* env, jclass clazz, jmethodID id, va_list args) {
    va_list copy;
    va_copy(copy, args);
    jobject o = newObject(env, clazz, id, nullptr, &copy);
    va_end(copy);
    return o;
}

jobject JNICALL NewObject(JNIEnv* env, jclass clazz, jmethodID id, ...) {
    va_list args;
    va_start(args, id);
    jobject o = newObject(env, clazz, id, nullptr, &args);
    va_end(args);
    return o;
}

// --- strings ---

jstring JNICALL NewString(JNIEnv* env, const jchar* unicode, jsize len) {
    STANDIN_ENTRY(Rule::Ordinary);
    if (len < 0 || (len > 0 && !unicode)) misuse("NewString was given a negative length or null characters");
    if (s.fails(s.failNew, __func__)) {
        s.raise("java/lang/OutOfMemoryError", std::string("Java heap space"));
        return nullptr;
    }
    std::u16string text(static_cast<std::size_t>(len), u'\0');
    if (len) std::memcpy(&text[0], unicode, static_cast<std::size_t>(len) * sizeof(jchar));
    return s.local<jstring>(s.newStringObject(std::move(text)));
}

jsize JNICALL GetStringLength(JNIEnv* env, jstring str) {
    STANDIN_ENTRY(Rule::Ordinary);
    return static_cast<jsize>(s.needString(str, __func__)->text.size());
}

const jchar* JNICALL GetStringChars(JNIEnv* env, jstring str, jboolean* isCopy) {
    STANDIN_ENTRY(Rule::Ordinary);
    JavaObject* o = s.needString(str, __func__);
    if (s.fails(s.failChars, __func__)) {
        s.raise("java/lang/OutOfMemoryError", std::string("Java heap space"));
        return nullptr;
    }
    if (isCopy) *isCopy = JNI_TRUE;
    std::u16string terminated = o->text + u'\0';  // the VM terminates this copy
    return static_cast<const jchar*>(
        s.acquire(AcquisitionKind::StringChars, o, terminated.data(), terminated.size() * sizeof(jchar)));
}

void JNICALL ReleaseStringChars(JNIEnv* env, jstring str, const jchar* chars) {
    STANDIN_ENTRY(Rule::Release);
    s.takeBack(chars, AcquisitionKind::StringChars, str, __func__);
}

jstring JNICALL NewStringUTF(JNIEnv* env, const char* utf) {
    STANDIN_ENTRY(Rule::Ordinary);
    if (!utf) return nullptr;
    if (s.fails(s.failNew, __func__)) {
        s.raise("java/lang/OutOfMemoryError", std::string("Java heap space"));
        return nullptr;
    }
    return s.local<jstring>(s.newStringObject(fromModifiedUtf8(utf)));
}

jsize JNICALL GetStringUTFLength(JNIEnv* env, jstring str) {
    STANDIN_ENTRY(Rule::Ordinary);
    return static_cast<jsize>(toModifiedUtf8(s.needString(str, __func__)->text).size());
}

const char* JNICALL GetStringUTFChars(JNIEnv* env, jstring str, jboolean* isCopy) {
    STANDIN_ENTRY(Rule::Ordinary);
    JavaObject* o = s.needString(str, __func__);
    if (s.fails(s.failChars, __func__)) {
        s.raise("java/lang/OutOfMemoryError", std::string("Java heap space"));
        return nullptr;
    }
    if (isCopy) *isCopy = JNI_TRUE;
    const std::string bytes = toModifiedUtf8(o->text);
    return static_cast<const char*>(s.acquire(AcquisitionKind::UtfChars, o, bytes.c_str(), bytes.size() + 1));
}

void JNICALL ReleaseStringUTFChars(JNIEnv* env, jstring str, const char* chars) {
    STANDIN_ENTRY(Rule::Release);
    s.takeBack(chars, AcquisitionKind::UtfChars, str, __func__);
}

bool outOfBounds(jsize start, jsize len, std::size_t length) {
    return start < 0 || len < 0 ||
           static_cast<std::int64_t>(start) + static_cast<std::int64_t>(len) > static_cast<std::int64_t>(length);
}

std::string regionMessage(jsize start, jsize len, std::size_t length) {
    return "Array region " + std::to_string(start) + ".." +
           std::to_string(static_cast<std::int64_t>(start) + static_cast<std::int64_t>(len)) +
           " out of bounds for length " + std::to_string(length);
}

void JNICALL GetStringRegion(JNIEnv* env, jstring str, jsize start, jsize len, jchar* buf) {
    STANDIN_ENTRY(Rule::Ordinary);
    JavaObject* o = s.needString(str, __func__);
    if (outOfBounds(start, len, o->text.size())) {
        s.raise("java/lang/StringIndexOutOfBoundsException", std::string("String index out of range"));
        return;
    }
    if (len > 0 && !buf) misuse("GetStringRegion was given a null buffer");
    if (len > 0) std::memcpy(buf, o->text.data() + start, static_cast<std::size_t>(len) * sizeof(jchar));
}

void JNICALL GetStringUTFRegion(JNIEnv* env, jstring str, jsize start, jsize len, char* buf) {
    STANDIN_ENTRY(Rule::Ordinary);
    JavaObject* o = s.needString(str, __func__);
    if (outOfBounds(start, len, o->text.size())) {
        s.raise("java/lang/StringIndexOutOfBoundsException", std::string("String index out of range"));
        return;
    }
    if (!buf) misuse("GetStringUTFRegion was given a null buffer");
    const std::string bytes = toModifiedUtf8(o->text.substr(static_cast<std::size_t>(start),
                                                            static_cast<std::size_t>(len)));
    std::memcpy(buf, bytes.c_str(), bytes.size() + 1);  // the VM terminates it
}

const jchar* JNICALL GetStringCritical(JNIEnv* env, jstring str, jboolean* isCopy) {
    STANDIN_ENTRY(Rule::Critical);
    JavaObject* o = s.needString(str, __func__);
    if (s.fails(s.failCritical, __func__)) return nullptr;
    if (isCopy) *isCopy = JNI_TRUE;
    ++s.criticalHeld;
    // Not terminated: the VM may hand out its own characters.
    return static_cast<const jchar*>(
        s.acquire(AcquisitionKind::StringCritical, o, o->text.data(), o->text.size() * sizeof(jchar)));
}

void JNICALL ReleaseStringCritical(JNIEnv* env, jstring str, const jchar* chars) {
    STANDIN_ENTRY(Rule::Release);
    s.takeBack(chars, AcquisitionKind::StringCritical, str, __func__);
    --s.criticalHeld;
}

// --- arrays ---

jsize JNICALL GetArrayLength(JNIEnv* env, jarray array) {
    STANDIN_ENTRY(Rule::Ordinary);
    return static_cast<jsize>(s.needArray(array, __func__)->length());
}

jobjectArray JNICALL NewObjectArray(JNIEnv* env, jsize len, jclass clazz, jobject init) {
    STANDIN_ENTRY(Rule::Ordinary);
    ClassInfo* element = s.needClass(clazz, __func__);
    JavaObject* initial = s.deref(init);
    if (initial && !Impl::assignable(initial->cls, element))
        misuse("NewObjectArray was given an initial element of class " + initial->cls->name);
    if (len < 0) {
        s.raise("java/lang/NegativeArraySizeException", std::to_string(len));
        return nullptr;
    }
    if (s.fails(s.failNew, __func__)) {
        s.raise("java/lang/OutOfMemoryError", std::string("Java heap space"));
        return nullptr;
    }
    JavaObject* a = s.make(ObjectKind::ObjectArray, s.arrayClassOf(element));
    a->elements.assign(static_cast<std::size_t>(len), initial);
    return s.local<jobjectArray>(a);
}

jobject JNICALL GetObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index) {
    STANDIN_ENTRY(Rule::Ordinary);
    JavaObject* a = s.needArray(array, __func__);
    if (a->kind != ObjectKind::ObjectArray) misuse("GetObjectArrayElement was given a primitive array");
    if (index < 0 || static_cast<std::size_t>(index) >= a->elements.size()) {
        s.raise("java/lang/ArrayIndexOutOfBoundsException",
                "Index " + std::to_string(index) + " out of bounds for length " + std::to_string(a->elements.size()));
        return nullptr;
    }
    return s.local(a->elements[static_cast<std::size_t>(index)]);
}

void JNICALL SetObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index, jobject val) {
    STANDIN_ENTRY(Rule::Ordinary);
    JavaObject* a = s.needArray(array, __func__);
    if (a->kind != ObjectKind::ObjectArray) misuse("SetObjectArrayElement was given a primitive array");
    JavaObject* value = s.deref(val);
    if (index < 0 || static_cast<std::size_t>(index) >= a->elements.size()) {
        s.raise("java/lang/ArrayIndexOutOfBoundsException",
                "Index " + std::to_string(index) + " out of bounds for length " + std::to_string(a->elements.size()));
        return;
    }
    if (value && !Impl::assignable(value->cls, a->cls->component)) {
        s.raise("java/lang/ArrayStoreException", dotted(value->cls->name));
        return;
    }
    a->elements[static_cast<std::size_t>(index)] = value;
}

template <typename T>
typename Prim<T>::Array JNICALL NewArray(JNIEnv* env, jsize len) {
    STANDIN_ENTRY(Rule::Ordinary);
    if (len < 0) {
        s.raise("java/lang/NegativeArraySizeException", std::to_string(len));
        return nullptr;
    }
    if (s.fails(s.failNew, __func__)) {
        s.raise("java/lang/OutOfMemoryError", std::string("Java heap space"));
        return nullptr;
    }
    return s.local<typename Prim<T>::Array>(s.newPrimitiveArray(Prim<T>::code, static_cast<std::size_t>(len)));
}

template <typename T>
T* JNICALL GetArrayElements(JNIEnv* env, typename Prim<T>::Array array, jboolean* isCopy) {
    STANDIN_ENTRY(Rule::Ordinary);
    JavaObject* a = s.needPrimitiveArray(array, Prim<T>::code, "Get<Type>ArrayElements");
    if (s.fails(s.failElements, __func__)) {
        s.raise("java/lang/OutOfMemoryError", std::string("Java heap space"));
        return nullptr;
    }
    if (isCopy) *isCopy = JNI_TRUE;
    return static_cast<T*>(s.acquire(AcquisitionKind::ArrayElements, a, a->bytes.data(), a->bytes.size()));
}

void releaseArray(Impl& s, JavaObject* a, const Acquisition& taken, jint mode, const char* function) {
    if (mode != 0 && mode != JNI_COMMIT && mode != JNI_ABORT)
        misuse(std::string(function) + " was given release mode " + std::to_string(mode));
    s.lastRelease = mode;
    if (mode != JNI_ABORT && !a->bytes.empty()) std::memcpy(a->bytes.data(), taken.buffer.get(), a->bytes.size());
}

template <typename T>
void JNICALL ReleaseArrayElements(JNIEnv* env, typename Prim<T>::Array array, T* elems, jint mode) {
    STANDIN_ENTRY(Rule::Release);
    const char* function = "Release<Type>ArrayElements";
    JavaObject* a = s.needPrimitiveArray(array, Prim<T>::code, function);
    Acquisition taken = s.takeBack(elems, AcquisitionKind::ArrayElements, array, function);
    releaseArray(s, a, taken, mode, function);
    if (mode == JNI_COMMIT) s.acquisitions.emplace(elems, std::move(taken));  // still handed out
}

template <typename T>
void JNICALL GetArrayRegion(JNIEnv* env, typename Prim<T>::Array array, jsize start, jsize len, T* buf) {
    STANDIN_ENTRY(Rule::Ordinary);
    JavaObject* a = s.needPrimitiveArray(array, Prim<T>::code, "Get<Type>ArrayRegion");
    if (outOfBounds(start, len, a->length())) {
        s.raise("java/lang/ArrayIndexOutOfBoundsException", regionMessage(start, len, a->length()));
        return;
    }
    if (len > 0 && !buf) misuse("Get<Type>ArrayRegion was given a null buffer");
    if (len > 0) std::memcpy(buf, a->bytes.data() + start * sizeof(T), static_cast<std::size_t>(len) * sizeof(T));
}

template <typename T>
void JNICALL SetArrayRegion(JNIEnv* env, typename Prim<T>::Array array, jsize start, jsize len, const T* buf) {
    STANDIN_ENTRY(Rule::Ordinary);
    JavaObject* a = s.needPrimitiveArray(array, Prim<T>::code, "Set<Type>ArrayRegion");
    if (outOfBounds(start, len, a->length())) {
        s.raise("java/lang/ArrayIndexOutOfBoundsException", regionMessage(start, len, a->length()));
        return;
    }
    if (len > 0 && !buf) misuse("Set<Type>ArrayRegion was given a null buffer");
    if (len > 0) std::memcpy(a->bytes.data() + start * sizeof(T), buf, static_cast<std::size_t>(len) * sizeof(T));
}

void* JNICALL GetPrimitiveArrayCritical(JNIEnv* env, jarray array, jboolean* isCopy) {
    STANDIN_ENTRY(Rule::Critical);
    JavaObject* a = s.needPrimitiveArray(array, 0, __func__);
    if (s.fails(s.failCritical, __func__)) return nullptr;
    if (isCopy) *isCopy = JNI_TRUE;
    ++s.criticalHeld;
    return s.acquire(AcquisitionKind::ArrayCritical, a, a->bytes.data(), a->bytes.size());
}

void JNICALL ReleasePrimitiveArrayCritical(JNIEnv* env, jarray array, void* carray, jint mode) {
    STANDIN_ENTRY(Rule::Release);
    JavaObject* a = s.needPrimitiveArray(array, 0, __func__);
    Acquisition taken = s.takeBack(carray, AcquisitionKind::ArrayCritical, array, __func__);
    releaseArray(s, a, taken, mode, __func__);
    if (mode == JNI_COMMIT) {
        s.acquisitions.emplace(carray, std::move(taken));  // still handed out, region still held
    } else {
        --s.criticalHeld;
    }
}

jint JNICALL MonitorEnter(JNIEnv* env, jobject obj) {
    STANDIN_ENTRY(Rule::Ordinary);
    s.need(obj, __func__);
    return JNI_OK;
}

jint JNICALL MonitorExit(JNIEnv* env, jobject obj) {
    STANDIN_ENTRY(Rule::ExceptionSafe);
    s.need(obj, __func__);
    return JNI_OK;
}

jint JNICALL GetJavaVM(JNIEnv* env, JavaVM** vm) {
    STANDIN_ENTRY(Rule::Ordinary);
    if (!vm) misuse("GetJavaVM was given a null pointer");
    *vm = &s.vmValue;
    return JNI_OK;
}

// --- the invocation interface ---

jint JNICALL DestroyJavaVM(JavaVM* vm) {
    std::function<jint()> hook;
    {
        Impl& s = Impl::of(vm);
        std::lock_guard<std::recursive_mutex> guard(s.mutex);
        ++s.destroyCount;
        hook = s.destroyHook;
    }
    return hook ? hook() : JNI_OK;
}

jint JNICALL AttachCurrentThread(JavaVM* vm, void** penv, void*) {
    Impl& s = Impl::of(vm);
    if (!penv) misuse("AttachCurrentThread was given a null pointer");
    *penv = &s.envValue;
    return JNI_OK;
}

jint JNICALL DetachCurrentThread(JavaVM* vm) {
    Impl::of(vm);
    return JNI_OK;
}

jint JNICALL GetEnv(JavaVM* vm, void** penv, jint version) {
    Impl& s = Impl::of(vm);
    if (!penv) misuse("GetEnv was given a null pointer");
    switch (version) {
        case JNI_VERSION_1_1: case JNI_VERSION_1_2: case JNI_VERSION_1_4: case JNI_VERSION_1_6:
        case JNI_VERSION_1_8: case JNI_VERSION_9: case JNI_VERSION_10:
            *penv = &s.envValue;
            return JNI_OK;
        default:
            *penv = nullptr;
            return JNI_EVERSION;
    }
}

#undef STANDIN_ENTRY

// --- the slots the model leaves out ---

constexpr const char* kEnvSlotNames[] = {
#define STANDIN_NAME(name) #name,
    TAVRO_JNI_ENV_SLOTS(STANDIN_NAME)
#undef STANDIN_NAME
};
constexpr std::size_t kEnvSlotCount = sizeof(kEnvSlotNames) / sizeof(kEnvSlotNames[0]);
static_assert(sizeof(JNINativeInterface_) == (4 + kEnvSlotCount) * sizeof(void*),
              "every function of the JNIEnv table is listed");
static_assert(sizeof(JNIInvokeInterface_) == (3 + 5) * sizeof(void*),
              "every function of the JavaVM table is listed");

using AnySlot = void (*)();

template <std::size_t I>
void unmodelled() {
    misuse(std::string("the JNI function ") + kEnvSlotNames[I] + " is not modelled by the stand-in");
}

template <std::size_t... I>
constexpr std::array<AnySlot, sizeof...(I)> unmodelledSlots(std::index_sequence<I...>) {
    return {{&unmodelled<I>...}};
}

void fillEnvTable(JNINativeInterface_& t) {
    static constexpr auto stubs = unmodelledSlots(std::make_index_sequence<kEnvSlotCount>{});
    std::size_t index = 0;
    // Called through the wrong type, a stub never returns: it names its slot and aborts.
#define STANDIN_STUB(name) t.name = reinterpret_cast<decltype(t.name)>(reinterpret_cast<void*>(stubs[index++]));
    TAVRO_JNI_ENV_SLOTS(STANDIN_STUB)
#undef STANDIN_STUB

    t.GetVersion = &GetVersion;
    t.FindClass = &FindClass;
    t.GetSuperclass = &GetSuperclass;
    t.IsAssignableFrom = &IsAssignableFrom;
    t.Throw = &Throw;
    t.ThrowNew = &ThrowNew;
    t.ExceptionOccurred = &ExceptionOccurred;
    t.ExceptionDescribe = &ExceptionDescribe;
    t.ExceptionClear = &ExceptionClear;
    t.ExceptionCheck = &ExceptionCheck;
    t.FatalError = &FatalError;
    t.PushLocalFrame = &PushLocalFrame;
    t.PopLocalFrame = &PopLocalFrame;
    t.NewGlobalRef = &NewGlobalRef;
    t.DeleteGlobalRef = &DeleteGlobalRef;
    t.DeleteLocalRef = &DeleteLocalRef;
    t.IsSameObject = &IsSameObject;
    t.NewLocalRef = &NewLocalRef;
    t.EnsureLocalCapacity = &EnsureLocalCapacity;
    t.NewWeakGlobalRef = &NewWeakGlobalRef;
    t.DeleteWeakGlobalRef = &DeleteWeakGlobalRef;
    t.AllocObject = &AllocObject;
    t.NewObject = &NewObject;
    t.NewObjectV = &NewObjectV;
    t.NewObjectA = &NewObjectA;
    t.GetObjectClass = &GetObjectClass;
    t.IsInstanceOf = &IsInstanceOf;
    t.GetMethodID = &GetMethodID;
    t.GetStaticMethodID = &GetStaticMethodID;

#define STANDIN_CALLS(Type, R)                                                \
    t.Call##Type##Method = &CallMethod<R, jobject, false>;                    \
    t.Call##Type##MethodV = &CallMethodV<R, jobject, false>;                  \
    t.Call##Type##MethodA = &CallMethodA<R, jobject, false>;                  \
    t.CallStatic##Type##Method = &CallMethod<R, jclass, true>;                \
    t.CallStatic##Type##MethodV = &CallMethodV<R, jclass, true>;              \
    t.CallStatic##Type##MethodA = &CallMethodA<R, jclass, true>;
    STANDIN_CALLS(Object, jobject)
    STANDIN_CALLS(Boolean, jboolean)
    STANDIN_CALLS(Byte, jbyte)
    STANDIN_CALLS(Char, jchar)
    STANDIN_CALLS(Short, jshort)
    STANDIN_CALLS(Int, jint)
    STANDIN_CALLS(Long, jlong)
    STANDIN_CALLS(Float, jfloat)
    STANDIN_CALLS(Double, jdouble)
    STANDIN_CALLS(Void, void)
#undef STANDIN_CALLS

    t.NewString = &NewString;
    t.GetStringLength = &GetStringLength;
    t.GetStringChars = &GetStringChars;
    t.ReleaseStringChars = &ReleaseStringChars;
    t.NewStringUTF = &NewStringUTF;
    t.GetStringUTFLength = &GetStringUTFLength;
    t.GetStringUTFChars = &GetStringUTFChars;
    t.ReleaseStringUTFChars = &ReleaseStringUTFChars;
    t.GetStringRegion = &GetStringRegion;
    t.GetStringUTFRegion = &GetStringUTFRegion;
    t.GetStringCritical = &GetStringCritical;
    t.ReleaseStringCritical = &ReleaseStringCritical;

    t.GetArrayLength = &GetArrayLength;
    t.NewObjectArray = &NewObjectArray;
    t.GetObjectArrayElement = &GetObjectArrayElement;
    t.SetObjectArrayElement = &SetObjectArrayElement;
#define STANDIN_ARRAYS(Type, T)                                       \
    t.New##Type##Array = &NewArray<T>;                                \
    t.Get##Type##ArrayElements = &GetArrayElements<T>;                \
    t.Release##Type##ArrayElements = &ReleaseArrayElements<T>;        \
    t.Get##Type##ArrayRegion = &GetArrayRegion<T>;                    \
    t.Set##Type##ArrayRegion = &SetArrayRegion<T>;
    STANDIN_ARRAYS(Boolean, jboolean)
    STANDIN_ARRAYS(Byte, jbyte)
    STANDIN_ARRAYS(Char, jchar)
    STANDIN_ARRAYS(Short, jshort)
    STANDIN_ARRAYS(Int, jint)
    STANDIN_ARRAYS(Long, jlong)
    STANDIN_ARRAYS(Float, jfloat)
    STANDIN_ARRAYS(Double, jdouble)
#undef STANDIN_ARRAYS
    t.GetPrimitiveArrayCritical = &GetPrimitiveArrayCritical;
    t.ReleasePrimitiveArrayCritical = &ReleasePrimitiveArrayCritical;

    t.MonitorEnter = &MonitorEnter;
    t.MonitorExit = &MonitorExit;
    t.GetJavaVM = &GetJavaVM;
}

void fillVmTable(JNIInvokeInterface_& t) {
    t.DestroyJavaVM = &DestroyJavaVM;
    t.AttachCurrentThread = &AttachCurrentThread;
    t.DetachCurrentThread = &DetachCurrentThread;
    t.GetEnv = &GetEnv;
    t.AttachCurrentThreadAsDaemon = &AttachCurrentThread;
}

}  // namespace jni

// ---------------------------------------------------------------------------------------
// Construction and the test-side API

JavaVmStandIn::Impl::Impl(JavaVmStandIn& owner_) : owner(owner_) {
    jni::fillEnvTable(envTable);
    jni::fillVmTable(vmTable);
    envValue.functions = &envTable;
    vmValue.functions = &vmTable;

    define("java/lang/Object", "");
    define("java/lang/Class", "java/lang/Object");
    // The first two class objects were made before java/lang/Class existed.
    for (auto& entry : classes) entry.second->object->cls = classes.at("java/lang/Class").get();
    define("java/lang/String", "java/lang/Object");
    define("java/lang/System", "java/lang/Object");
    const std::pair<const char*, const char*> throwables[] = {
        {"java/lang/Throwable", "java/lang/Object"},
        {"java/lang/Exception", "java/lang/Throwable"},
        {"java/lang/RuntimeException", "java/lang/Exception"},
        {"java/lang/Error", "java/lang/Throwable"},
        {"java/lang/LinkageError", "java/lang/Error"},
        {"java/lang/NoClassDefFoundError", "java/lang/LinkageError"},
        {"java/lang/IncompatibleClassChangeError", "java/lang/LinkageError"},
        {"java/lang/NoSuchMethodError", "java/lang/IncompatibleClassChangeError"},
        {"java/lang/VirtualMachineError", "java/lang/Error"},
        {"java/lang/OutOfMemoryError", "java/lang/VirtualMachineError"},
        {"java/lang/IndexOutOfBoundsException", "java/lang/RuntimeException"},
        {"java/lang/ArrayIndexOutOfBoundsException", "java/lang/IndexOutOfBoundsException"},
        {"java/lang/StringIndexOutOfBoundsException", "java/lang/IndexOutOfBoundsException"},
        {"java/lang/ArrayStoreException", "java/lang/RuntimeException"},
        {"java/lang/NegativeArraySizeException", "java/lang/RuntimeException"},
        {"java/lang/NullPointerException", "java/lang/RuntimeException"},
        {"java/lang/IllegalArgumentException", "java/lang/RuntimeException"},
    };
    for (const auto& [name, super] : throwables) define(name, super);

    defineMethod(classes.at("java/lang/System").get(), "getProperty", "(Ljava/lang/String;)Ljava/lang/String;",
                 [this](JavaVmStandIn&, jobject, const std::vector<jvalue>& args) {
                     jvalue result{};
                     JavaObject* key = deref(args[0].l);
                     if (!key) {
                         raise("java/lang/NullPointerException", std::string("key can't be null"));
                     } else if (key->text.empty()) {
                         raise("java/lang/IllegalArgumentException", std::string("key can't be empty"));
                     } else {
                         auto it = properties.find(utf16ToUtf8(key->text));
                         if (it != properties.end())
                             result.l = reinterpret_cast<jobject>(newStringObject(utf8ToUtf16(it->second)));
                     }
                     return result;
                 },
                 true);
    defineMethod(classes.at("java/lang/Throwable").get(), "getMessage", "()Ljava/lang/String;",
                 [this](JavaVmStandIn&, jobject self, const std::vector<jvalue>&) {
                     jvalue result{};
                     JavaObject* e = deref(self);
                     if (e->message) result.l = reinterpret_cast<jobject>(newStringObject(*e->message));
                     return result;
                 },
                 false);

    std::lock_guard<std::mutex> lock(registry().mutex);
    registry().byEnvOrVm[&envValue] = this;
    registry().byEnvOrVm[&vmValue] = this;
}

JavaVmStandIn::Impl::~Impl() {
    std::lock_guard<std::mutex> lock(registry().mutex);
    registry().byEnvOrVm.erase(&envValue);
    registry().byEnvOrVm.erase(&vmValue);
}

JavaVmStandIn::Impl& JavaVmStandIn::Impl::of(JNIEnv* env) {
    std::lock_guard<std::mutex> lock(registry().mutex);
    auto it = registry().byEnvOrVm.find(env);
    if (it == registry().byEnvOrVm.end()) misuse("a JNIEnv that belongs to no live stand-in was used");
    return *it->second;
}

JavaVmStandIn::Impl& JavaVmStandIn::Impl::of(JavaVM* vm) {
    std::lock_guard<std::mutex> lock(registry().mutex);
    auto it = registry().byEnvOrVm.find(vm);
    if (it == registry().byEnvOrVm.end()) misuse("a JavaVM that belongs to no live stand-in was used");
    return *it->second;
}

JavaVmStandIn::JavaVmStandIn() : impl_(std::make_unique<Impl>(*this)) {}
JavaVmStandIn::~JavaVmStandIn() = default;

JNIEnv* JavaVmStandIn::env() { return &impl_->envValue; }
JavaVM* JavaVmStandIn::vm() { return &impl_->vmValue; }
JavaVmStandIn& JavaVmStandIn::from(JNIEnv* env) { return Impl::of(env).owner; }
JavaVmStandIn& JavaVmStandIn::from(JavaVM* vm) { return Impl::of(vm).owner; }

#define STANDIN_LOCK std::lock_guard<std::recursive_mutex> guard(impl_->mutex)

jclass JavaVmStandIn::defineClass(const std::string& name, const std::string& superclass) {
    STANDIN_LOCK;
    return reinterpret_cast<jclass>(impl_->define(name, superclass)->object);
}

void JavaVmStandIn::defineMethod(const std::string& cls, const std::string& name, const std::string& sig, Method m,
                                 bool isStatic) {
    STANDIN_LOCK;
    impl_->defineMethod(impl_->ensure(cls), name, sig, std::move(m), isStatic);
}

jclass JavaVmStandIn::findClass(const std::string& name) const {
    STANDIN_LOCK;
    ClassInfo* cls = impl_->find(name);
    return cls ? reinterpret_cast<jclass>(cls->object) : nullptr;
}

int JavaVmStandIn::callCount(const std::string& cls, const std::string& name, const std::string& sig) const {
    STANDIN_LOCK;
    auto c = impl_->classes.find(cls);
    if (c == impl_->classes.end()) return 0;
    auto m = c->second->methods.find(name + sig);
    return m == c->second->methods.end() ? 0 : m->second->calls;
}

jobject JavaVmStandIn::newObject(const std::string& cls, std::any payload) {
    STANDIN_LOCK;
    JavaObject* o = impl_->make(ObjectKind::Instance, impl_->ensure(cls));
    o->payload = std::move(payload);
    return reinterpret_cast<jobject>(o);
}

std::any& JavaVmStandIn::payload(jobject o) {
    STANDIN_LOCK;
    return impl_->need(o, "payload")->payload;
}

jstring JavaVmStandIn::newString(const std::u16string& text) {
    STANDIN_LOCK;
    return reinterpret_cast<jstring>(impl_->newStringObject(text));
}

jstring JavaVmStandIn::newStringUtf8(const std::string& utf8) { return newString(utf8ToUtf16(utf8)); }

std::u16string JavaVmStandIn::stringValue(jstring s) const {
    STANDIN_LOCK;
    return impl_->needString(s, "stringValue")->text;
}

std::string JavaVmStandIn::stringUtf8(jstring s) const { return utf16ToUtf8(stringValue(s)); }

jobjectArray JavaVmStandIn::newObjectArray(const std::string& elementClass, const std::vector<jobject>& elements) {
    STANDIN_LOCK;
    ClassInfo* element = impl_->ensure(elementClass);
    JavaObject* a = impl_->make(ObjectKind::ObjectArray, impl_->arrayClassOf(element));
    for (jobject e : elements) {
        JavaObject* o = impl_->deref(e);
        if (o && !Impl::assignable(o->cls, element))
            misuse("newObjectArray: a " + o->cls->name + " cannot be an element of " + elementClass + "[]");
        a->elements.push_back(o);
    }
    return reinterpret_cast<jobjectArray>(a);
}

jobjectArray JavaVmStandIn::newStringArray(const std::vector<std::u16string>& elements) {
    STANDIN_LOCK;
    std::vector<jobject> strings;
    for (const auto& text : elements) strings.push_back(reinterpret_cast<jobject>(impl_->newStringObject(text)));
    return newObjectArray("java/lang/String", strings);
}

jobjectArray JavaVmStandIn::newNullableStringArray(const std::vector<std::optional<std::u16string>>& elements) {
    STANDIN_LOCK;
    std::vector<jobject> strings;
    for (const auto& text : elements)
        strings.push_back(text ? reinterpret_cast<jobject>(impl_->newStringObject(*text)) : nullptr);
    return newObjectArray("java/lang/String", strings);
}

std::vector<jobject> JavaVmStandIn::arrayElements(jobjectArray a) const {
    STANDIN_LOCK;
    JavaObject* array = impl_->needArray(a, "arrayElements");
    if (array->kind != ObjectKind::ObjectArray) misuse("arrayElements: not an object array");
    std::vector<jobject> out;
    for (JavaObject* o : array->elements) out.push_back(reinterpret_cast<jobject>(o));
    return out;
}

std::vector<std::u16string> JavaVmStandIn::stringArrayValue(jobjectArray a) const {
    std::vector<std::u16string> out;
    for (jobject o : arrayElements(a)) out.push_back(stringValue(static_cast<jstring>(o)));
    return out;
}

std::vector<std::optional<std::u16string>> JavaVmStandIn::nullableStringArrayValue(jobjectArray a) const {
    std::vector<std::optional<std::u16string>> out;
    for (jobject o : arrayElements(a)) {
        if (o) {
            out.emplace_back(stringValue(static_cast<jstring>(o)));
        } else {
            out.emplace_back(std::nullopt);
        }
    }
    return out;
}

namespace {

template <typename T>
JavaObject* makePrimitiveArray(JavaVmStandIn::Impl& impl, char code, const std::vector<T>& v) {
    JavaObject* a = impl.newPrimitiveArray(code, v.size());
    if (!v.empty()) std::memcpy(a->bytes.data(), v.data(), v.size() * sizeof(T));
    return a;
}

template <typename T>
std::vector<T> primitiveArrayValue(const JavaVmStandIn::Impl& impl, const void* ref, char code) {
    JavaObject* a = impl.needPrimitiveArray(ref, code, "<type>ArrayValue");
    std::vector<T> out(a->length());
    if (!out.empty()) std::memcpy(out.data(), a->bytes.data(), a->bytes.size());
    return out;
}

}  // namespace

#define STANDIN_ARRAY_API(T, ArrayT, code, Name, name)                                 \
    ArrayT JavaVmStandIn::new##Name##Array(const std::vector<T>& v) {                 \
        STANDIN_LOCK;                                                                 \
        return reinterpret_cast<ArrayT>(makePrimitiveArray(*impl_, code, v));         \
    }                                                                                 \
    std::vector<T> JavaVmStandIn::name##ArrayValue(ArrayT a) const {                  \
        STANDIN_LOCK;                                                                 \
        return primitiveArrayValue<T>(*impl_, a, code);                               \
    }
STANDIN_ARRAY_API(jboolean, jbooleanArray, 'Z', Boolean, boolean)
STANDIN_ARRAY_API(jbyte, jbyteArray, 'B', Byte, byte)
STANDIN_ARRAY_API(jchar, jcharArray, 'C', Char, char)
STANDIN_ARRAY_API(jshort, jshortArray, 'S', Short, short)
STANDIN_ARRAY_API(jint, jintArray, 'I', Int, int)
STANDIN_ARRAY_API(jlong, jlongArray, 'J', Long, long)
STANDIN_ARRAY_API(jfloat, jfloatArray, 'F', Float, float)
STANDIN_ARRAY_API(jdouble, jdoubleArray, 'D', Double, double)
#undef STANDIN_ARRAY_API

bool JavaVmStandIn::isString(jobject o) const {
    STANDIN_LOCK;
    JavaObject* obj = impl_->deref(o);
    return obj && obj->kind == ObjectKind::String;
}

bool JavaVmStandIn::isArray(jobject o) const {
    STANDIN_LOCK;
    JavaObject* obj = impl_->deref(o);
    return obj && (obj->kind == ObjectKind::ObjectArray || obj->kind == ObjectKind::PrimitiveArray);
}

std::string JavaVmStandIn::classNameOf(jobject o) const {
    STANDIN_LOCK;
    return impl_->need(o, "classNameOf")->cls->name;
}

std::size_t JavaVmStandIn::objectCount() const {
    STANDIN_LOCK;
    return impl_->objects.size();
}

void JavaVmStandIn::failCriticalAccess(bool fail) {
    STANDIN_LOCK;
    impl_->failCritical = fail;
}

void JavaVmStandIn::failFindClass(const std::string& name) {
    STANDIN_LOCK;
    impl_->failingClasses.insert(name);
}

void JavaVmStandIn::failStringChars(bool fail) {
    STANDIN_LOCK;
    impl_->failChars = fail;
}

void JavaVmStandIn::failArrayElements(bool fail) {
    STANDIN_LOCK;
    impl_->failElements = fail;
}

void JavaVmStandIn::failNewObjects(bool fail) {
    STANDIN_LOCK;
    impl_->failNew = fail;
}

void JavaVmStandIn::failWhen(std::function<bool(const char* jniFunction)> decide) {
    STANDIN_LOCK;
    impl_->faultDecider = std::move(decide);
}

void JavaVmStandIn::setSystemProperty(const std::string& name, const std::optional<std::string>& value) {
    STANDIN_LOCK;
    if (value) {
        impl_->properties[name] = *value;
    } else {
        impl_->properties.erase(name);
    }
}

void JavaVmStandIn::throwNew(const std::string& cls, const std::string& message) {
    STANDIN_LOCK;
    impl_->raise(cls, message);
}

bool JavaVmStandIn::exceptionPending() const {
    STANDIN_LOCK;
    return impl_->pending != nullptr;
}

std::string JavaVmStandIn::pendingExceptionClass() const {
    STANDIN_LOCK;
    return impl_->pending ? impl_->pending->cls->name : std::string();
}

std::string JavaVmStandIn::pendingExceptionMessage() const {
    STANDIN_LOCK;
    return impl_->pending && impl_->pending->message ? utf16ToUtf8(*impl_->pending->message) : std::string();
}

void JavaVmStandIn::clearException() {
    STANDIN_LOCK;
    impl_->pending = nullptr;
}

int JavaVmStandIn::describedExceptions() const {
    STANDIN_LOCK;
    return impl_->describedCount;
}

int JavaVmStandIn::callsWithPendingException() const {
    STANDIN_LOCK;
    return impl_->pendingViolations;
}

int JavaVmStandIn::outstandingAcquisitions() const {
    STANDIN_LOCK;
    return static_cast<int>(impl_->acquisitions.size());
}

jint JavaVmStandIn::lastReleaseMode() const {
    STANDIN_LOCK;
    return impl_->lastRelease;
}

int JavaVmStandIn::callsInsideCritical() const {
    STANDIN_LOCK;
    return impl_->criticalViolations;
}

int JavaVmStandIn::liveLocalReferences() const {
    STANDIN_LOCK;
    return impl_->liveLocals;
}

std::vector<std::string> JavaVmStandIn::fatalErrors() const {
    STANDIN_LOCK;
    return impl_->fatal;
}

void JavaVmStandIn::onFatalError(std::function<void(const std::string&)> handler) {
    STANDIN_LOCK;
    impl_->fatalHandler = std::move(handler);
}

void JavaVmStandIn::onDestroy(std::function<jint()> hook) {
    STANDIN_LOCK;
    impl_->destroyHook = std::move(hook);
}

int JavaVmStandIn::destroyCalls() const {
    STANDIN_LOCK;
    return impl_->destroyCount;
}

std::vector<std::string> JavaVmStandIn::describedLines() const {
    STANDIN_LOCK;
    return impl_->describedText;
}

#undef STANDIN_LOCK

}  // namespace tavro::test
