#include "base_digitizer.h"

namespace pramble {

namespace qt = quicktime::digitizer;

BaseDigitizer::BaseDigitizer(quicktime::ComponentInstance instance) : self(instance) {
    nameHandle = qt::NewHandle(0);
    infoHandle = qt::NewHandle(0);
    iconHandle = qt::NewHandle(0);
    const auto component = reinterpret_cast<quicktime::Component>(self);
    constructionResult_ = qt::GetComponentInfo(component, &description, nameHandle, infoHandle, iconHandle);
    deviceIndex = std::int32_t(qt::GetComponentRefcon(component));
}

BaseDigitizer::~BaseDigitizer() {
    brightness.reset();
    blackLevel.reset();
    whiteLevel.reset();
    hue.reset();
    saturation.reset();
    contrast.reset();
    sharpness.reset();
    BaseDigitizer::releaseCompressionResources();
    // The name, info and icon handles stay: the master's info and icon were handed to
    // RegisterComponent for every device component, which may keep them.
}

OSErr BaseDigitizer::GetMaxSrcRect(short inputStandard, Rect* maxSrcRect) {
    if (inputStandard != 0) return kParamErr;
    qt::SetRect(maxSrcRect, 0, 0, short(limits.maxWidth), short(limits.maxHeight));
    maxSourceRect = *maxSrcRect;
    return 0;
}

OSErr BaseDigitizer::GetNumberOfInputs(short* inputs) {
    maxInputIndex = 0;
    if (inputs) *inputs = short(maxInputIndex);
    return 0;
}

void BaseDigitizer::releaseCompressionResources() {
    if (imageDescription) qt::DisposeHandle(imageDescription);
    imageDescription = nullptr;
}

}  // namespace pramble
