#include "state/ModBase.h"

#include "platform/Error.h"
#include "state/ConnectionState.h"
#include "widgets/KeyInjection.h"

#include <QComboBox>
#include <QSignalBlocker>

using gst::AppError;
using gst::Value;

namespace
{
gst::Connection& sharedConnection()
{
    if (!gConnection)
        throw AppError(gst::err::kObjectNotSet,
                       QStringLiteral("Object variable or With block variable not set"));
    return *gConnection;
}
} // namespace

QString TrimSpaces(const QString& text)
{
    int begin = 0;
    int end = static_cast<int>(text.size());
    while (begin < end && text.at(begin) == QLatin1Char(' '))
        ++begin;
    while (end > begin && text.at(end - 1) == QLatin1Char(' '))
        --end;
    return text.mid(begin, end - begin);
}

Value GetScalar(const QString& sql, const gst::Params& params)
{
    std::unique_ptr<gst::ResultSet> rs = sharedConnection().query(sql, params);
    Value result = Value::integer(0);
    if (rs->next() && rs->columnCount() > 0) {
        const Value first = rs->value(0);
        if (!first.isNull())
            result = first;
    }
    rs->close();
    return result;
}

void FillCombo(QComboBox* list, const QString& sql)
{
    struct Item {
        QString text;
        bool hasNumber = false;
        std::int32_t number = 0;
    };

    list->clear();
    std::unique_ptr<gst::ResultSet> rs = sharedConnection().query(sql);
    const bool twoColumns = rs->columnCount() > 1;
    std::vector<Item> items;
    // Failures before the first item pass to the caller; from the first item on
    // they are ignored, and a failing result set ends the reading.
    bool started = false;
    for (;;) {
        bool more = false;
        if (started) {
            try {
                more = rs->next();
            } catch (const std::exception&) {
                break;
            }
        } else {
            more = rs->next();
        }
        if (!more)
            break;

        Value first;
        if (started) {
            try {
                first = rs->value(0);
            } catch (const std::exception&) {
                continue;
            }
        } else {
            first = rs->value(0);
        }
        if (first.isNull())
            continue;
        started = true;

        Item item;
        try {
            item.text = TrimSpaces(first.toText());
        } catch (const std::exception&) {
            continue; // an item that cannot be made is left out
        }
        if (twoColumns) {
            try {
                const Value second = rs->value(1);
                if (!second.isNull()) {
                    item.number = second.toInt32();
                    item.hasNumber = true;
                }
            } catch (const std::exception&) {
                // the number stays unset
            }
        }
        items.push_back(item);
    }
    rs->close();

    {
        const QSignalBlocker blocker(list);
        for (const Item& item : items) {
            if (item.hasNumber)
                list->addItem(item.text, QVariant(item.number));
            else
                list->addItem(item.text);
        }
        if (twoColumns || !list->isEditable())
            list->setCurrentIndex(-1);
    }
    if (items.empty())
        return;
    if (twoColumns) {
        // Selecting the first item counts as a selection: the list's own handler runs.
        list->setCurrentIndex(0);
    } else if (list->isEditable()) {
        list->setEditText(items.front().text);
    } else {
        const QSignalBlocker blocker(list);
        list->setCurrentIndex(0);
    }
}

std::int32_t comboItemNumber(const QComboBox* list, int index)
{
    if (index < 0 || index >= list->count())
        return 0;
    const QVariant data = list->itemData(index);
    return data.isValid() ? data.toInt() : 0;
}

void SendKeyEvent(std::int16_t virtualKey, bool keyDown)
{
    gst::injectKey(virtualKey, keyDown);
}
