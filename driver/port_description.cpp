#include "port_description.h"

namespace {

class BoundedText {
public:
    BoundedText(wchar_t* out, std::size_t chars) : out_(out), last_(chars ? chars - 1 : 0) {}
    void Append(wchar_t c)
    {
        if (used_ < last_) out_[used_++] = c;
    }
    void Append(const wchar_t* text, const wchar_t* end)
    {
        for (; text != end && *text; ++text) Append(*text);
    }
    void Terminate()
    {
        if (out_) out_[used_] = 0;
    }

private:
    wchar_t* out_;
    std::size_t last_;
    std::size_t used_ = 0;
};

const wchar_t* Find(const wchar_t* text, wchar_t c)
{
    while (*text && *text != c) ++text;
    return text;
}

}  // namespace

void ComposePortDescription(const wchar_t* description, const wchar_t* portName, wchar_t* out,
                            std::size_t outChars)
{
    if (outChars == 0) return;
    BoundedText text(out, outChars);
    const wchar_t* open = Find(description, L'(');
    text.Append(description, open);
    text.Append(L'(');
    text.Append(portName, nullptr);
    text.Append(L')');
    const wchar_t* rest = Find(open, L')');
    if (*rest == L')') ++rest;
    text.Append(rest, nullptr);
    text.Terminate();
}
