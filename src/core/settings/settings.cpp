#include "core/settings/settings.h"

#include "core/errors.h"
#include "core/platform/inifile.h"
#include "core/rules/miscrules.h"

#include <QDir>
#include <QFileInfo>

#include <limits>

using namespace Qt::StringLiterals;

namespace corvane {

const QString SettingsFile::FileName = u"Settings.ini"_s;

namespace {

using Form = ConfigurationKey::Form;

const QString kOptions = u"Options"_s;
const QString kCount = u"Count"_s;
const QString kBlacklist = u"Blacklist"_s;

QList<ConfigurationKey> makeKeys() {
    QList<ConfigurationKey> keys = {
        {kOptions, u"Startup"_s, Form::Boolean},        {kOptions, u"Systray"_s, Form::Boolean},
        {kOptions, u"Logging"_s, Form::Boolean},        {kOptions, u"Save"_s, Form::Boolean},
        {kOptions, u"AutoIntvl"_s, Form::Integer},      {kOptions, u"colorban"_s, Form::Colour},
        {kOptions, u"colorfriend"_s, Form::Colour},     {kOptions, u"colormailwin"_s, Form::Colour},
        {kOptions, u"bouncefrom"_s, Form::Text},        {kOptions, u"bouncesubj"_s, Form::Text},
        {kOptions, u"smtpserver"_s, Form::Text},        {kOptions, u"smtpport"_s, Form::Text},
        {kOptions, u"smtpemail"_s, Form::Text},         {kOptions, u"updateurl"_s, Form::Text},
        {kOptions, u"submitaddress"_s, Form::Text},     {kOptions, u"website"_s, Form::Text},
        {kOptions, u"supportaddress"_s, Form::Text},    {kOptions, u"notify"_s, Form::Boolean},
        {kOptions, u"pop3pipelining"_s, Form::Boolean}, {kOptions, u"smtpsecurity"_s, Form::Text},
        {kOptions, u"smtpuser"_s, Form::Text},          {kOptions, u"learning"_s, Form::Boolean},
        {kOptions, u"learnspam"_s, Form::Integer},      {kOptions, u"learnham"_s, Form::Integer},
        {kOptions, u"learnveto"_s, Form::Boolean},      {kOptions, u"bodylines"_s, Form::Integer},
        {kOptions, u"smtpauth"_s, Form::Text},          {kCount, u"deletecount"_s, Form::Text},
    };
    for (int i = 1; i <= MiscRules::Count; ++i)
        keys.append({kBlacklist, QString::number(i), Form::Boolean});
    return keys;
}

bool is(const ConfigurationKey &k, const QString &name) {
    return k.key.compare(name, Qt::CaseInsensitive) == 0;
}

// Fields of Settings by key name.
template <typename F> auto withField(const ConfigurationKey &k, Settings &s, F &&f) {
    if (is(k, u"Startup"_s))
        return f(s.Startup);
    if (is(k, u"Systray"_s))
        return f(s.Systray);
    if (is(k, u"Logging"_s))
        return f(s.Logging);
    if (is(k, u"Save"_s))
        return f(s.Save);
    if (is(k, u"AutoIntvl"_s))
        return f(s.AutoIntvl);
    if (is(k, u"colorban"_s))
        return f(s.colorban);
    if (is(k, u"colorfriend"_s))
        return f(s.colorfriend);
    if (is(k, u"colormailwin"_s))
        return f(s.colormailwin);
    if (is(k, u"bouncefrom"_s))
        return f(s.bouncefrom);
    if (is(k, u"bouncesubj"_s))
        return f(s.bouncesubj);
    if (is(k, u"smtpserver"_s))
        return f(s.smtpserver);
    if (is(k, u"smtpport"_s))
        return f(s.smtpport);
    if (is(k, u"smtpemail"_s))
        return f(s.smtpemail);
    if (is(k, u"smtpsecurity"_s))
        return f(s.smtpsecurity);
    if (is(k, u"smtpuser"_s))
        return f(s.smtpuser);
    if (is(k, u"smtpauth"_s))
        return f(s.smtpauth);
    if (is(k, u"updateurl"_s))
        return f(s.updateurl);
    if (is(k, u"submitaddress"_s))
        return f(s.submitaddress);
    if (is(k, u"website"_s))
        return f(s.website);
    if (is(k, u"supportaddress"_s))
        return f(s.supportaddress);
    if (is(k, u"notify"_s))
        return f(s.notify);
    if (is(k, u"pop3pipelining"_s))
        return f(s.pop3pipelining);
    if (is(k, u"learning"_s))
        return f(s.learning);
    if (is(k, u"learnspam"_s))
        return f(s.learnspam);
    if (is(k, u"learnham"_s))
        return f(s.learnham);
    if (is(k, u"learnveto"_s))
        return f(s.learnveto);
    if (is(k, u"bodylines"_s))
        return f(s.bodylines);
    throw DataError(u"Unknown setting %1"_s.arg(k.key));
}

std::optional<int> readInt(const QString &text) {
    const auto v =
        parseLegacyInteger(text, std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
    if (!v)
        return std::nullopt;
    return int(*v);
}

} // namespace

const QList<ConfigurationKey> &configurationKeys() {
    static const QList<ConfigurationKey> keys = makeKeys();
    return keys;
}

const ConfigurationKey *findConfigurationKey(QStringView name) {
    const qsizetype dot = name.indexOf(u'.');
    const QStringView section = dot < 0 ? QStringView() : name.left(dot);
    const QStringView key = dot < 0 ? name : name.mid(dot + 1);
    for (const ConfigurationKey &k : configurationKeys())
        if (k.key.compare(key, Qt::CaseInsensitive) == 0 &&
            (section.isNull() || k.section.compare(section, Qt::CaseInsensitive) == 0))
            return &k;
    return nullptr;
}

QString configurationValue(const ConfigurationKey &key, const Settings &settings,
                           const MiscRules &misc, const QString &DeleteCount) {
    if (key.section == kCount)
        return DeleteCount;
    if (key.section == kBlacklist)
        return misc.ticked(key.key.toInt()) ? u"1"_s : u"0"_s;
    Settings copy = settings;
    return withField(key, copy, [](auto &field) -> QString {
        using T = std::decay_t<decltype(field)>;
        if constexpr (std::is_same_v<T, bool>)
            return field ? u"1"_s : u"0"_s;
        else if constexpr (std::is_same_v<T, int>)
            return QString::number(field);
        else
            return field;
    });
}

void applyConfigurationValue(const ConfigurationKey &key, const QString &text, Settings &settings,
                             MiscRules &misc, QString &DeleteCount) {
    if (key.section == kCount) {
        DeleteCount = text;
        return;
    }
    if (key.section == kBlacklist) {
        if (const auto v = readInt(text))
            misc.setTicked(key.key.toInt(), *v != 0);
        return;
    }
    withField(key, settings, [&](auto &field) {
        using T = std::decay_t<decltype(field)>;
        if constexpr (std::is_same_v<T, bool>) {
            if (const auto v = readInt(text))
                field = *v != 0;
        } else if constexpr (std::is_same_v<T, int>) {
            if (const auto v = readInt(text))
                field = *v;
        } else {
            field = text;
        }
    });
    settings.AutoIntvl = qBound(Settings::MinAutoIntvl, settings.AutoIntvl, Settings::MaxAutoIntvl);
    // Cutoffs in per cent; the ham cutoff stays below the spam cutoff.
    settings.learnspam = qBound(1, settings.learnspam, 100);
    settings.learnham = qBound(0, settings.learnham, settings.learnspam - 1);
    settings.bodylines = qBound(0, settings.bodylines, Settings::MaxBodyLines);
}

void SettingsFile::ReadConfiguration(Settings &settings, MiscRules &misc, QString &DeleteCount) {
    const IniFile ini = IniFile::load(m_path);
    // Taken over into copies first, so a failure leaves the caller's values untouched.
    Settings s = settings;
    MiscRules m = misc;
    QString count = DeleteCount;
    for (const ConfigurationKey &k : configurationKeys())
        if (const auto text = ini.value(k.section, k.key))
            applyConfigurationValue(k, *text, s, m, count);
    settings = s;
    misc = m;
    DeleteCount = count;
    m_asRead.clear();
    m_fileText.clear();
    for (const ConfigurationKey &k : configurationKeys()) {
        const QString id = k.section + u'.' + k.key;
        m_asRead.insert(id, configurationValue(k, s, m, count));
        m_fileText.insert(id, ini.value(k.section, k.key));
    }
    m_read = true;
}

void SettingsFile::WriteConfiguration(const Settings &settings, const MiscRules &misc,
                                      const QString &DeleteCount) {
    const QString shown = QDir::toNativeSeparators(m_path);
    const bool exists = QFileInfo::exists(m_path);
    if (exists && !m_read)
        throw DataError(u"%1 was not read when the program started; it was left unchanged so "
                        u"that the settings in it are not lost."_s.arg(shown));
    IniFile ini;
    try {
        ini = IniFile::load(m_path);
    } catch (const FileError &) {
        throw FileError(u"Unable to write to %1"_s.arg(shown));
    }
    // The order of writing: the first Options keys, the total, the remaining Options keys,
    // the ticks. On a new file the remaining Options keys join their section before Count.
    const QList<ConfigurationKey> &keys = configurationKeys();
    QList<const ConfigurationKey *> order;
    for (const ConfigurationKey &k : keys)
        if (k.section == kOptions && order.size() < 8)
            order << &k;
    for (const ConfigurationKey &k : keys)
        if (k.section == kCount)
            order << &k;
    for (const ConfigurationKey &k : keys)
        if (k.section == kOptions && !order.contains(&k))
            order << &k;
    for (const ConfigurationKey &k : keys)
        if (k.section == kBlacklist)
            order << &k;
    // A key that this program left unchanged but that was changed in the file since it was
    // read (by hand, or by another program) keeps the file's text, so that change is not
    // undone. Every other key is written in its normal form.
    QHash<QString, QString> written;
    QHash<QString, std::optional<QString>> fileText;
    for (const ConfigurationKey *k : order) {
        const QString id = k->section + u'.' + k->key;
        const QString value = configurationValue(*k, settings, misc, DeleteCount);
        const std::optional<QString> now = ini.value(k->section, k->key);
        const bool oursUnchanged = m_asRead.value(id) == value;
        if (oursUnchanged && now && now != m_fileText.value(id)) {
            written.insert(id, value);
            fileText.insert(id, m_fileText.value(id)); // so the next write keeps it too
            continue;
        }
        ini.setValue(k->section, k->key, value);
        written.insert(id, value);
        fileText.insert(id, value);
    }
    ini.save(m_path);
    m_asRead = written;
    m_fileText = fileText;
}

} // namespace corvane
