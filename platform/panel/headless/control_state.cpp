// The window's rules for values and attributes, kind by kind.
#include "control_state.h"

#include "panel.h"

#include <algorithm>
#include <cmath>

namespace platform {

ControlKind controlKindOf(const std::string &className)
{
    static const struct {
        const char *className;
        ControlKind kind;
    } kinds[] = {
        {"CommandButton", ControlKind::CommandButton}, {"TextMessage", ControlKind::TextMessage},
        {"TextBox", ControlKind::TextBox},             {"NumericDisplay", ControlKind::NumericDisplay},
        {"Led", ControlKind::Led},                     {"Slide", ControlKind::Slide},
        {"PictureRing", ControlKind::PictureRing},     {"TimerControl", ControlKind::Timer},
    };
    for (const auto &k : kinds)
        if (className == k.className)
            return k.kind;
    return ControlKind::Decoration;
}

namespace {

// A number or a flag as an int; text is no number.
bool toInt(const PanelValue &value, int *out)
{
    PanelValue converted;
    if (!convertForKind(value, ValueKind::Int, &converted))
        return false;
    *out = std::get<int>(converted);
    return true;
}

bool toDouble(const PanelValue &value, double *out)
{
    PanelValue converted;
    if (!convertForKind(value, ValueKind::Double, &converted))
        return false;
    *out = std::get<double>(converted);
    return true;
}

bool toText(const PanelValue &value, std::string *out)
{
    PanelValue converted;
    if (!convertForKind(value, ValueKind::Text, &converted))
        return false;
    *out = std::move(std::get<std::string>(converted));
    return true;
}

// A colour is given as 0xRRGGBB in an int, nothing else: a flag or a
// fraction is no colour. Whatever lies above the 24 bits is ignored.
bool toColour(const PanelValue &value, int *out)
{
    const int *rgb = std::get_if<int>(&value);
    if (!rgb)
        return false;
    *out = static_cast<int>(static_cast<unsigned>(*rgb) & 0xFFFFFFu);
    return true;
}

void setReading(ControlState &control, double value)
{
    if (std::isnan(value))
        value = control.minimum;
    control.reading = std::max(control.minimum, std::min(value, control.maximum));
}

bool hasLabel(ControlKind kind)
{
    return kind == ControlKind::CommandButton || kind == ControlKind::Led
           || kind == ControlKind::NumericDisplay || kind == ControlKind::Slide;
}

// Which kind owns each attribute that only some kinds have.
bool hasAttribute(ControlKind kind, CtrlAttribute attribute)
{
    switch (attribute) {
    case ATTR_VISIBLE: return kind != ControlKind::Timer;  // a timer is never shown
    case ATTR_DIMMED: return true;
    case ATTR_LABEL_TEXT: return hasLabel(kind);
    case ATTR_TEXT_COLOR:
    case ATTR_TEXT_BOLD: return kind == ControlKind::TextMessage;
    case ATTR_FILL_COLOR: return kind == ControlKind::Slide;
    case ATTR_ENABLED:
    case ATTR_INTERVAL: return kind == ControlKind::Timer;
    case ATTR_ACCESSIBLE_NAME: return true;
    }
    return false;
}

} // namespace

int setControlValue(ControlState &control, const PanelValue &value)
{
    bool ok = false;
    int number = 0;
    switch (control.kind) {
    case ControlKind::Led:
        if ((ok = toInt(value, &number)))
            control.lit = number != 0;
        break;
    case ControlKind::Slide:
        if ((ok = toInt(value, &number)))
            control.number = std::clamp(number, 0, 100);
        break;
    case ControlKind::PictureRing:
        if ((ok = toInt(value, &number)))
            control.number = number;
        break;
    case ControlKind::NumericDisplay: {
        double reading = 0.0;
        if ((ok = toDouble(value, &reading)))
            setReading(control, reading);
        break;
    }
    case ControlKind::TextMessage:
        ok = toText(value, &control.text);
        break;
    case ControlKind::TextBox: {
        std::string text;
        if ((ok = toText(value, &text)))
            control.log.append(text);
        break;
    }
    case ControlKind::CommandButton:
    case ControlKind::Timer:
    case ControlKind::Decoration:
        break;
    }
    return ok ? 0 : kPanelBadAttribute;
}

int readControlValue(const ControlState &control, PanelValue *value)
{
    switch (control.kind) {
    case ControlKind::Led: *value = control.lit; return 0;
    case ControlKind::Slide:
    case ControlKind::PictureRing: *value = control.number; return 0;
    case ControlKind::NumericDisplay: *value = control.reading; return 0;
    case ControlKind::TextMessage: *value = control.text; return 0;
    case ControlKind::TextBox: *value = control.log.text(); return 0;
    case ControlKind::CommandButton:
    case ControlKind::Timer:
    case ControlKind::Decoration: break;
    }
    return kPanelBadAttribute;
}

int setControlAttribute(ControlState &control, CtrlAttribute attribute, const PanelValue &value)
{
    if (!hasAttribute(control.kind, attribute))
        return kPanelBadAttribute;
    bool ok = false;
    int number = 0;
    switch (attribute) {
    case ATTR_VISIBLE:
        if ((ok = toInt(value, &number)))
            control.visible = number != 0;
        break;
    case ATTR_DIMMED:
        if ((ok = toInt(value, &number)))
            control.dimmed = number != 0;
        break;
    case ATTR_LABEL_TEXT:
        ok = toText(value, &control.label);
        break;
    case ATTR_TEXT_COLOR:
        ok = toColour(value, &control.textColor);
        break;
    case ATTR_TEXT_BOLD:
        if ((ok = toInt(value, &number)))
            control.textBold = number != 0;
        break;
    case ATTR_FILL_COLOR:
        ok = toColour(value, &control.fillColor);
        break;
    case ATTR_ENABLED:
        if ((ok = toInt(value, &number)))
            control.timerEnabled = number != 0;
        break;
    case ATTR_INTERVAL: {
        double seconds = 0.0;
        if ((ok = toDouble(value, &seconds)))
            control.interval = seconds > 0.0 ? seconds : 0.001;  // 0 would spin the loop
        break;
    }
    case ATTR_ACCESSIBLE_NAME:
        ok = toText(value, &control.accessibleName);
        break;
    }
    return ok ? 0 : kPanelBadAttribute;
}

int readControlAttribute(const ControlState &control, CtrlAttribute attribute, PanelValue *value)
{
    if (!hasAttribute(control.kind, attribute))
        return kPanelBadAttribute;
    switch (attribute) {
    case ATTR_VISIBLE: *value = int(control.visible); break;
    case ATTR_DIMMED: *value = int(control.dimmed); break;
    case ATTR_LABEL_TEXT: *value = control.label; break;
    case ATTR_TEXT_COLOR: *value = control.textColor; break;
    case ATTR_TEXT_BOLD: *value = control.textBold; break;
    case ATTR_FILL_COLOR: *value = control.fillColor; break;
    case ATTR_ENABLED: *value = control.timerEnabled; break;
    case ATTR_INTERVAL: *value = control.interval; break;
    case ATTR_ACCESSIBLE_NAME: *value = control.accessibleName; break;
    }
    return 0;
}

void setNumericDecimals(ControlState &control, int decimals)
{
    control.decimals = std::clamp(decimals, 0, 15);
}

void setNumericRange(ControlState &control, double minimum, double maximum)
{
    control.minimum = minimum;
    control.maximum = maximum;
    setReading(control, control.reading);
}

std::string currentPicture(const ControlState &control)
{
    for (const PictureItem &item : control.items)
        if (item.value == control.number)
            return item.path;
    return std::string();
}

} // namespace platform
