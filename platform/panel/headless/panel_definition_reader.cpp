// Panel definitions read as XML: the elements and properties the window's
// loader gives meaning to, each applied with the rule its widget follows
// (a slide keeps within 0..100, a numeric display within its range, an
// interval is never zero). Layouts, geometry and fonts only place or draw a
// control and are skipped.
#include "panel_definition_reader.h"

#include "panel.h"

#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>

#include <algorithm>
#include <cmath>
#include <set>

namespace platform {

namespace {

// One property as the definition writes it.
struct Property {
    enum Type { None, Number, Double, Text, Flag, TextList, Colour } type = None;
    double number = 0.0;  // Number, Double, Flag (0 or 1)
    std::string text;     // Text
    std::vector<std::string> list;  // TextList
    int colour = 0;       // Colour, 0xRRGGBB
};

std::string toStd(QStringView text)
{
    return text.toString().toStdString();
}

// Reads the value element of a <property> and leaves the reader on its end.
bool readPropertyValue(QXmlStreamReader &xml, Property *out)
{
    while (xml.readNextStartElement()) {
        const QStringView tag = xml.name();
        if (tag == u"number" || tag == u"double") {
            bool ok = false;
            out->number = xml.readElementText().trimmed().toDouble(&ok);
            out->type = tag == u"number" ? Property::Number : Property::Double;
            if (!ok)
                return false;
        } else if (tag == u"string" || tag == u"cstring") {
            out->type = Property::Text;
            out->text = xml.readElementText().toStdString();
        } else if (tag == u"bool") {
            out->type = Property::Flag;
            out->number = xml.readElementText().trimmed() == u"true" ? 1.0 : 0.0;
        } else if (tag == u"stringlist") {
            out->type = Property::TextList;
            while (xml.readNextStartElement()) {
                if (xml.name() == u"string")
                    out->list.push_back(xml.readElementText().toStdString());
                else
                    xml.skipCurrentElement();
            }
        } else if (tag == u"color") {
            out->type = Property::Colour;
            int rgb[3] = {0, 0, 0};
            while (xml.readNextStartElement()) {
                const QStringView part = xml.name();
                const int value = std::clamp(xml.readElementText().trimmed().toInt(), 0, 255);
                if (part == u"red")
                    rgb[0] = value;
                else if (part == u"green")
                    rgb[1] = value;
                else if (part == u"blue")
                    rgb[2] = value;
            }
            out->colour = (rgb[0] << 16) | (rgb[1] << 8) | rgb[2];
        } else {
            xml.skipCurrentElement();  // a place, a size, a font: nothing the program reads
        }
    }
    return !xml.hasError();
}

bool asInt(const Property &p, int *out)
{
    if (p.type == Property::Text) {
        bool ok = false;
        *out = QString::fromStdString(p.text).trimmed().toInt(&ok);
        return ok;
    }
    if (p.type != Property::Number && p.type != Property::Double && p.type != Property::Flag)
        return false;
    if (!(p.number >= -2147483648.0 && p.number <= 2147483647.0))
        return false;
    *out = static_cast<int>(std::lround(p.number));
    return true;
}

bool asDouble(const Property &p, double *out)
{
    if (p.type != Property::Number && p.type != Property::Double && p.type != Property::Flag)
        return false;
    *out = p.number;
    return true;
}

bool asFlag(const Property &p, bool *out)
{
    int n = 0;
    if (p.type == Property::Text || !asInt(p, &n))
        return false;
    *out = n != 0;
    return true;
}

// A picture is built in when the file it names can be read and holds
// something; what the window draws from it is its business.
bool pictureReadable(const std::string &path)
{
    QFileInfo info(QString::fromStdString(path));
    return info.isFile() && info.isReadable() && info.size() > 0;
}

// "value=path" items, read as the picture ring reads them.
bool readPictureItems(const std::vector<std::string> &texts, std::vector<PictureItem> *items)
{
    bool valid = true;
    items->clear();
    for (const std::string &text : texts) {
        const QString item = QString::fromStdString(text);
        const qsizetype eq = item.indexOf(u'=');
        bool numeric = false;
        const int value = eq > 0 ? item.left(eq).trimmed().toInt(&numeric) : 0;
        const QString path = item.mid(eq + 1).trimmed();
        if (!numeric || path.isEmpty()) {
            valid = false;
            continue;
        }
        items->push_back({value, path.toStdString()});
        if (!pictureReadable(items->back().path))
            valid = false;
    }
    return valid;
}

// A control as the window builds it: what its widget starts with, then each
// property the definition sets, in the order written.
struct ControlBeingRead {
    ControlState state;
    bool hasId = false;
    int id = 0;             // valid when hasId
    bool idValid = false;   // a positive number
    bool itemsValid = true;
};

// What a widget holds before the definition's properties are applied,
// where it is not the record's default.
void initialState(ControlState &control)
{
    if (control.kind == ControlKind::Timer)
        control.visible = false;  // a timer is never shown
}

void applyProperty(ControlBeingRead &control, const std::string &name, const Property &p)
{
    ControlState &c = control.state;
    if (name == "ctrlId") {
        control.hasId = true;
        control.idValid = asInt(p, &control.id) && control.id > 0;
        return;
    }
    if (name == "callback") {
        if (p.type == Property::Text)
            c.callbackName = p.text;
        return;
    }
    int number = 0;
    double real = 0.0;
    bool flag = false;
    switch (c.kind) {
    case ControlKind::Led:
        if (name == "value" && asFlag(p, &flag))
            c.lit = flag;
        break;
    case ControlKind::Slide:
        if (name == "value" && asInt(p, &number))
            c.number = std::clamp(number, 0, 100);
        else if (name == "fillColor" && p.type == Property::Colour)
            c.fillColor = p.colour;
        break;
    case ControlKind::PictureRing:
        if (name == "value" && asInt(p, &number))
            c.number = number;
        else if (name == "items" && p.type == Property::TextList)
            control.itemsValid = readPictureItems(p.list, &c.items);
        else if (name == "framed" && asFlag(p, &flag))
            c.framed = flag;
        break;
    case ControlKind::NumericDisplay:
        if (name == "value" && asDouble(p, &real))
            setControlValue(c, real);
        else if (name == "decimals" && asInt(p, &number))
            setNumericDecimals(c, number);
        else if (name == "minimum" && asDouble(p, &real))
            setNumericRange(c, real, c.maximum);
        else if (name == "maximum" && asDouble(p, &real))
            setNumericRange(c, c.minimum, real);
        break;
    case ControlKind::TextMessage:
        if (name == "value" && p.type == Property::Text)
            c.text = p.text;
        else if (name == "textColor" && p.type == Property::Colour)
            c.textColor = p.colour;
        else if (name == "textBold" && asFlag(p, &flag))
            c.textBold = flag;
        break;
    case ControlKind::Timer:
        if (name == "interval" && asDouble(p, &real))
            setControlAttribute(c, ATTR_INTERVAL, real);
        else if (name == "timerEnabled" && asFlag(p, &flag))
            c.timerEnabled = flag;
        break;
    case ControlKind::TextBox:
    case ControlKind::CommandButton:
    case ControlKind::Decoration:
        break;
    }
    if (name == "label" && p.type == Property::Text)
        c.label = p.text;
    else if (name == "visible" && c.kind != ControlKind::Timer && asFlag(p, &flag))
        c.visible = flag;
    else if (name == "enabled" && asFlag(p, &flag))
        c.dimmed = !flag;
}

class Reader {
public:
    explicit Reader(QXmlStreamReader &xml) : xml_(xml) {}

    // Reads the root widget's children; on return the reader is past its end.
    // Returns 0 or kPanelUnreadable.
    int readPanel(PanelDefinition *out)
    {
        out_ = out;
        bool idOk = false;
        while (xml_.readNextStartElement()) {
            if (xml_.name() == u"property") {
                const std::string name = toStd(xml_.attributes().value(QLatin1String("name")));
                Property p;
                if (!readPropertyValue(xml_, &p))
                    return kPanelUnreadable;
                if (name == "panelId")
                    idOk = asInt(p, &out->panelId);
                else if (name == "callback" && p.type == Property::Text)
                    out->callbackName = p.text;
                else if (name == "windowTitle" && p.type == Property::Text)
                    out->title = p.text;
            } else if (const int rc = readContainer(0)) {
                return rc;
            }
        }
        if (xml_.hasError())
            return kPanelUnreadable;
        if (!idOk)
            out->panelId = 0;  // no panel of any id
        return 0;
    }

    bool failed() const { return failed_; }

private:
    // The element the reader is on, inside a widget whose control id is
    // `parent`: a child widget, or a layout whose items hold widgets.
    int readContainer(int parent)
    {
        if (xml_.name() == u"widget")
            return readWidget(parent);
        if (xml_.name() == u"layout" || xml_.name() == u"item") {
            while (xml_.readNextStartElement())
                if (const int rc = readContainer(parent))
                    return rc;
            return xml_.hasError() ? kPanelUnreadable : 0;
        }
        xml_.skipCurrentElement();
        return 0;
    }

    int readWidget(int parent)
    {
        ControlBeingRead control;
        control.state.className = toStd(xml_.attributes().value(QLatin1String("class")));
        control.state.name = toStd(xml_.attributes().value(QLatin1String("name")));
        control.state.kind = controlKindOf(control.state.className);
        control.state.parent = parent;
        initialState(control.state);
        // Its own properties come first, then the widgets inside it; it is
        // filed before them so that the definition's order is the window's.
        std::size_t slot = out_->controls.size();
        bool filed = false;
        while (xml_.readNextStartElement()) {
            if (xml_.name() == u"property") {
                const std::string name = toStd(xml_.attributes().value(QLatin1String("name")));
                Property p;
                if (!readPropertyValue(xml_, &p))
                    return kPanelUnreadable;
                applyProperty(control, name, p);
                continue;
            }
            if (!filed) {
                slot = file(control);
                filed = true;
            }
            const int inner = control.hasId && control.idValid ? control.id : parent;
            if (const int rc = readContainer(inner))
                return rc;
        }
        if (xml_.hasError())
            return kPanelUnreadable;
        if (filed) {
            if (slot != npos)
                out_->controls[slot].second = std::move(control.state);
        } else {
            file(control);
        }
        return 0;
    }

    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    // Files a control with an id; one without is an inner part of a control
    // (or a layout's frame) and holds nothing the program reaches. Returns
    // its slot, npos when not filed.
    std::size_t file(const ControlBeingRead &control)
    {
        if (!control.hasId)
            return npos;
        if (!control.idValid || !ids_.insert(control.id).second || !control.itemsValid) {
            failed_ = true;
            return npos;
        }
        out_->controls.emplace_back(control.id, control.state);
        return out_->controls.size() - 1;
    }

    QXmlStreamReader &xml_;
    PanelDefinition *out_ = nullptr;
    std::set<int> ids_;
    bool failed_ = false;
};

// A definition name is a plain file name; nothing outside the built-in
// definitions can be reached through it.
bool isPlainName(const std::string &name)
{
    return !name.empty() && name.find('/') == std::string::npos
           && name.find('\\') == std::string::npos && name != "." && name != "..";
}

// The whole file read: 0 with the panel it holds, or kPanelNotFound /
// kPanelUnreadable / kPanelUnreadable-after-the-id (kept apart so that the
// id is checked first, as the window does).
struct ReadResult {
    int rc = 0;
    bool controlsFaulty = false;  // an id or a picture wrong: unreadable, once the panel id matches
    PanelDefinition definition;
};

ReadResult readFile(const std::string &name)
{
    ReadResult result;
    if (!isPlainName(name)) {
        result.rc = kPanelNotFound;
        return result;
    }
    QFile file(QStringLiteral(":/") + QString::fromStdString(name));
    if (!file.exists()) {
        result.rc = kPanelNotFound;
        return result;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        result.rc = kPanelUnreadable;
        return result;
    }
    QXmlStreamReader xml(&file);
    result.rc = kPanelUnreadable;
    if (!xml.readNextStartElement() || xml.name() != u"ui")
        return result;
    bool panelRead = false;
    while (xml.readNextStartElement()) {
        if (xml.name() == u"widget" && !panelRead) {
            if (xml.attributes().value(QLatin1String("class")) != u"PanelWindow")
                return result;  // the root is no panel
            Reader reader(xml);
            if (reader.readPanel(&result.definition) != 0)
                return result;
            result.controlsFaulty = reader.failed();
            panelRead = true;
        } else {
            xml.skipCurrentElement();
        }
    }
    // The whole document must be well-formed, as the window's loader reads it whole.
    while (!xml.atEnd())
        xml.readNext();
    if (xml.hasError() || !panelRead)
        return result;
    result.rc = 0;
    return result;
}

int check(const ReadResult &read, int panelId)
{
    if (read.rc)
        return read.rc;
    if (read.definition.panelId != panelId || panelId == 0)
        return kPanelNoSuchPanel;
    return read.controlsFaulty ? int(kPanelUnreadable) : 0;
}

} // namespace

int readPanelDefinition(const std::string &name, int panelId, PanelDefinition *out)
{
    ReadResult read = readFile(name);
    if (const int rc = check(read, panelId))
        return rc;
    *out = std::move(read.definition);
    return 0;
}

} // namespace platform
