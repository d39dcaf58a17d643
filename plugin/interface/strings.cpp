#include "plugin/interface/strings.h"

#include "plugin/interface/module_state.h"

namespace fd {
namespace {

struct StringEntry {
    int id;
    const char* text;
};

constexpr StringEntry kStringTable[] = {
    {5, "DAVARIVA VUVODUDE VE4.1 SETUP:"},
    {6, "并行协定CF4.1分析:"},
    {7, "並列協定CF4.1分析:"},
    {8, "Default"},
    {9, "默认值"},
    {10, "預設值"},
    {14, "The subitem must be more than twenty-five of the protocol analyzer"},
    {15, "并行协定的子项必须大于25"},
    {16, "並列協定的子項必須大於25"},
    {35, "OK"},
    {36, "确定"},
    {37, "確定"},
    {38, "Cancel"},
    {39, "取消"},
    {40, "取消"},
    {41, "Help"},
    {42, "帮助"},
    {43, "說明"},
    {56, "Channel must be different"},
    {57, "信号通道不能一样"},
    {58, "信號通道不能一樣"},
    {59, "Please  choose the right channel"},
    {60, "请选择合适的通道"},
    {61, "請選擇合適的通道"},
};

}  // namespace

int LanguageOffset(int32_t language) {
    return (language == FdLanguageSimplified || language == FdLanguageTraditional) ? language : 0;
}

std::string StringTableText(int id) {
    for (const StringEntry& entry : kStringTable) {
        if (entry.id == id) return entry.text;
    }
    return {};
}

std::string LoadLocalizedString(int id) {
    const FdCapture* capture = CurrentCapture();
    return StringTableText(id + (capture ? LanguageOffset(capture->language) : 0));
}

}  // namespace fd
