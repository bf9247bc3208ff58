#include "dravik/swv/CallReport.h"

#include <vector>

namespace dravik::swv {

namespace {

// A copy-out function's text; empty when there is none.
template <typename CopyOut>
std::string fetchText(CopyOut copyOut) {
    std::vector<char> text(512, '\0');
    int length = static_cast<int>(text.size()) - 1;
    const int result = copyOut(text.data(), &length);
    // 0: whole text, -1: cut (still terminated); anything else: nothing to show.
    if (result != 0 && result != -1) {
        return {};
    }
    std::string message(text.data());
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
        message.pop_back();  // some texts end in a line break of their own
    }
    return message;
}

}  // namespace

CallFailure collectFailure(TraceInterface& api, const std::string& function, int code) {
    CallFailure failure;
    failure.function = function;
    failure.code = code;
    failure.step = api.currentStep();
    if (api.has(EntryPoint::LastError)) {
        failure.error =
            fetchText([&](char* message, int* length) { return api.lastError(message, length); });
    }
    if (api.has(EntryPoint::LastWarning)) {
        failure.warning =
            fetchText([&](char* message, int* length) { return api.lastWarning(message, length); });
    }
    return failure;
}

CallFailure dbgDevFailure(TraceInterface& api, const std::string& function, int code) {
    CallFailure failure;
    failure.function = function;
    failure.code = code;
    const char* text = api.resultText(code);
    failure.codeText = text == nullptr ? "" : text;
    return failure;
}

std::string formatCallFailure(const CallFailure& failure) {
    std::string text =
        "dravik-swv: " + failure.function + " failed with result " + std::to_string(failure.code);
    if (!failure.codeText.empty()) {
        text += " (" + failure.codeText + ")";
    }
    text += "\n";
    if (!failure.step.empty()) {
        text += "  step: " + failure.step + "\n";
    }
    if (!failure.error.empty()) {
        text += "  error: " + failure.error + "\n";
    }
    if (!failure.warning.empty()) {
        text += "  warning: " + failure.warning + "\n";
    }
    for (const std::string& line : failure.diagnostics) {
        text += "  dbgdev: " + line + "\n";
    }
    if (!failure.hint.empty()) {
        text += "  hint: " + failure.hint + "\n";
    }
    return text;
}

}  // namespace dravik::swv
