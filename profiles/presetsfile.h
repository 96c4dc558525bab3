#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonDocument>
#include <QList>
#include <QString>

namespace corvane {

// The text of a presets file, {"presets": [...], "version": 1} indented as QJsonDocument writes
// it, put together from each preset's own text. A preset's text is kept until the preset
// changes: the file is rewritten whole after every change, and serialising every preset again
// would make each change cost more the longer the list is.
template <typename Preset>
class PresetsFile
{
public:
    QByteArray text(const QList<Preset> &presets)
    {
        // Texts of presets that are gone go once they are more than those still there.
        if (m_entries.size() > 2 * presets.size() + 16)
            m_entries.clear();
        QByteArray out;
        out.reserve(m_lastSize + 512);
        out += "{\n    \"presets\": [\n";
        for (qsizetype i = 0; i < presets.size(); ++i) {
            const Preset &preset = presets.at(i);
            auto cached = m_entries.find(preset.id);
            if (cached == m_entries.end())
                cached = m_entries.insert(preset.id, Entry{preset, elementText(preset)});
            else if (!(cached->preset == preset))
                *cached = Entry{preset, elementText(preset)};
            out += cached->text;
            out += i + 1 < presets.size() ? ",\n" : "\n";
        }
        out += "    ],\n    \"version\": 1\n}\n";
        m_lastSize = out.size();
        return out;
    }

private:
    struct Entry
    {
        Preset preset;
        QByteArray text;
    };

    // The preset's object at the depth of an array element: every line indented by eight blanks.
    static QByteArray elementText(const Preset &preset)
    {
        QByteArray text = QJsonDocument(preset.toJson()).toJson(QJsonDocument::Indented);
        text.chop(1);
        text.replace("\n", "\n        ");
        return "        " + text;
    }

    QHash<QString, Entry> m_entries;
    qsizetype m_lastSize = 0;
};

} // namespace corvane
