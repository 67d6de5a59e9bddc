#include "trendview/limitsdialog.h"

#include "alarms/limitsfile.h"
#include "common/error.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include <cmath>

namespace qf {

namespace {

const QString Caption = QStringLiteral("Alarm limits");
const QString InvalidStyle = QStringLiteral("QLineEdit[invalid=\"true\"] { background-color: #ffc0c0; }");
const QColor ProblemText(0xb0, 0x00, 0x00);
constexpr double MillisecondsPerSecond = 1000;
constexpr std::array<AlarmPriority, 3> Priorities{AlarmPriority::High, AlarmPriority::Medium,
                                                  AlarmPriority::Low};

QString numberText(std::optional<double> value)
{
    return value ? QString::number(*value, 'g', QLocale::FloatingPointShortest) : QString();
}

QString secondsText(std::chrono::milliseconds duration)
{
    return numberText(double(duration.count()) / MillisecondsPerSecond);
}

// A number as typed: in the file's form (30.5) or the operator's locale's;
// nothing for an empty field. Throws the message for anything else.
std::optional<double> typedNumber(const QLineEdit *field)
{
    const QString text = field->text().trimmed();
    if (text.isEmpty())
        return std::nullopt;
    bool ok = false;
    double value = QLocale::c().toDouble(text, &ok);
    if (!ok)
        value = QLocale().toDouble(text, &ok);
    if (!ok || !std::isfinite(value))
        throw QStringLiteral("\"%1\" is not a number").arg(text);
    return value;
}

std::chrono::milliseconds typedSeconds(const QLineEdit *field)
{
    const double seconds = typedNumber(field).value_or(0);
    if (seconds < 0)
        throw QStringLiteral("must be at least 0 seconds");
    return std::chrono::milliseconds(std::llround(seconds * MillisecondsPerSecond));
}

QComboBox *priorityBox(QWidget *parent)
{
    auto *box = new QComboBox(parent);
    for (const AlarmPriority priority : Priorities)
        box->addItem(priorityText(priority), int(priority));
    return box;
}

void choose(QComboBox *box, AlarmPriority priority)
{
    box->setCurrentIndex(box->findData(int(priority)));
}

AlarmPriority chosen(const QComboBox *box)
{
    return AlarmPriority(box->currentData().toInt());
}

} // namespace

LimitsDialog::LimitsDialog(const QString &path, const AlarmLimits &fallback, QWidget *parent)
    : QDialog(parent), m_path(path), m_silentAfter(new QLineEdit(this)), m_silentPriority(priorityBox(this)),
      m_message(new QLabel(this))
{
    setWindowTitle(Caption);
    setStyleSheet(InvalidStyle);
    auto *grid = new QGridLayout;
    for (int key = 0; key < LimitsKeyCount; ++key)
        grid->addWidget(new QLabel(limitsKeyText(LimitsKey(key)), this), 0, key + 1);
    for (int sensor = 1; sensor <= schema::SensorCount; ++sensor) {
        grid->addWidget(new QLabel(QStringLiteral("Sensor%1").arg(sensor), this), sensor, 0);
        for (int key = 0; key < LimitsKeyCount; ++key) {
            QWidget *field = nullptr;
            if (LimitsKey(key) == LimitsKey::Priority) {
                field = m_priorities[std::size_t(sensor - 1)] = priorityBox(this);
            } else {
                auto *edit = new QLineEdit(this);
                connect(edit, &QLineEdit::textChanged, this, &LimitsDialog::validate);
                field = m_fields[std::size_t(sensor - 1)][std::size_t(key)] = edit;
            }
            grid->addWidget(field, sensor, key + 1);
        }
    }
    const int stationRow = schema::SensorCount + 1;
    grid->addWidget(new QLabel(QStringLiteral("Station"), this), stationRow, 0);
    grid->addWidget(new QLabel(QStringLiteral("no records alarm after (s)"), this), stationRow, 1, 1, 2);
    grid->addWidget(m_silentAfter, stationRow, 3);
    grid->addWidget(new QLabel(QStringLiteral("priority"), this), stationRow, 4);
    grid->addWidget(m_silentPriority, stationRow, 5);
    connect(m_silentAfter, &QLineEdit::textChanged, this, &LimitsDialog::validate);

    auto *note =
        new QLabel(QStringLiteral("An empty limit is no limit; deadband in the sensor's unit, delay in "
                                  "seconds. Written to %1.")
                       .arg(path),
                   this);
    note->setTextFormat(Qt::PlainText);
    note->setWordWrap(true);
    m_message->setTextFormat(Qt::PlainText);
    m_message->setWordWrap(true);
    QPalette palette = m_message->palette();
    palette.setColor(QPalette::WindowText, ProblemText);
    m_message->setPalette(palette);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &LimitsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &LimitsDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(note);
    layout->addWidget(m_message);
    layout->addWidget(buttons);

    QString opened;
    AlarmLimits limits = fallback;
    try {
        limits = readLimitsFile(path);
    } catch (const StationError &e) {
        opened = QStringLiteral("%1\nThe form shows the limits in use; OK replaces the file.")
                     .arg(e.error().description);
    }
    fill(limits);
    if (!opened.isEmpty())
        m_message->setText(opened);
    field(1, LimitsKey::Name)->setFocus();
}

QLineEdit *LimitsDialog::field(int sensor, LimitsKey key) const
{
    return sensor == 0 ? m_silentAfter : m_fields[std::size_t(sensor - 1)][std::size_t(key)];
}

void LimitsDialog::fill(const AlarmLimits &limits)
{
    for (int sensor = 1; sensor <= schema::SensorCount; ++sensor) {
        const SensorLimits &s = limits.sensor(sensor);
        field(sensor, LimitsKey::Name)->setText(s.name);
        field(sensor, LimitsKey::Unit)->setText(s.unit);
        for (const AlarmKind kind : SensorAlarmKinds)
            field(sensor, LimitsKey(int(LimitsKey::HighHigh) + int(kind)))
                ->setText(numberText(s.limit(kind)));
        field(sensor, LimitsKey::Deadband)->setText(numberText(s.deadband));
        field(sensor, LimitsKey::Delay)->setText(secondsText(s.delay));
        choose(m_priorities[std::size_t(sensor - 1)], s.priority);
    }
    m_silentAfter->setText(secondsText(limits.silentAfter));
    choose(m_silentPriority, limits.silentPriority);
    validate();
}

LimitsDialog::Form LimitsDialog::read() const
{
    Form form{AlarmLimits::defaults(), std::nullopt};
    for (int sensor = 1; sensor <= schema::SensorCount && !form.problem; ++sensor) {
        SensorLimits &s = form.limits.sensor(sensor);
        LimitsKey at = LimitsKey::Name;
        try {
            s.name = field(sensor, LimitsKey::Name)->text();
            s.unit = field(sensor, LimitsKey::Unit)->text();
            s.highHigh = typedNumber(field(sensor, at = LimitsKey::HighHigh));
            s.high = typedNumber(field(sensor, at = LimitsKey::High));
            s.low = typedNumber(field(sensor, at = LimitsKey::Low));
            s.lowLow = typedNumber(field(sensor, at = LimitsKey::LowLow));
            s.deadband = typedNumber(field(sensor, at = LimitsKey::Deadband)).value_or(0);
            s.delay = typedSeconds(field(sensor, at = LimitsKey::Delay));
        } catch (const QString &message) {
            form.problem = Problem{sensor, at, std::nullopt, message};
            break;
        }
        s.priority = chosen(m_priorities[std::size_t(sensor - 1)]);
        if (const std::optional<LimitsProblem> problem = validateSensor(s))
            form.problem = Problem{sensor, problem->key, problem->other, problem->message};
    }
    if (form.problem)
        return form;
    try {
        form.limits.silentAfter = typedSeconds(m_silentAfter);
    } catch (const QString &message) {
        form.problem = Problem{0, LimitsKey::Delay, std::nullopt, message};
    }
    form.limits.silentPriority = chosen(m_silentPriority);
    return form;
}

std::optional<AlarmLimits> LimitsDialog::limits() const
{
    Form form = read();
    if (form.problem)
        return std::nullopt;
    return std::move(form.limits);
}

void LimitsDialog::mark(QLineEdit *field, const QString &problem)
{
    if (field->property(InvalidProperty).toBool() == !problem.isEmpty() && field->toolTip() == problem)
        return;
    field->setProperty(InvalidProperty, !problem.isEmpty());
    field->setToolTip(problem);
    field->style()->unpolish(field);
    field->style()->polish(field);
}

void LimitsDialog::validate()
{
    const Form form = read();
    for (int sensor = 0; sensor <= schema::SensorCount; ++sensor) {
        for (int key = 0; key < LimitsKeyCount; ++key) {
            QLineEdit *edit = field(sensor, LimitsKey(key));
            const bool named =
                form.problem && form.problem->sensor == sensor &&
                (sensor == 0 || form.problem->key == LimitsKey(key) || form.problem->other == LimitsKey(key));
            if (edit && (sensor > 0 || key == 0))
                mark(edit, named ? form.problem->message : QString());
        }
    }
    m_ok->setEnabled(!form.problem);
    if (!form.problem) {
        m_message->clear();
        return;
    }
    // "Sensor2 deadband: must be ...", "Sensor2: high (40) must be at most highHigh (35)"
    const Problem &problem = *form.problem;
    QString where = problem.sensor == 0 ? QStringLiteral("Station silentAfter")
                                        : QStringLiteral("Sensor%1").arg(problem.sensor);
    if (problem.sensor > 0 && !problem.other)
        where += QLatin1Char(' ') + limitsKeyText(problem.key);
    m_message->setText(where + QStringLiteral(": ") + problem.message);
}

void LimitsDialog::accept()
{
    const std::optional<AlarmLimits> written = limits();
    if (!written)
        return;
    try {
        writeLimitsFile(m_path, *written);
    } catch (const StationError &e) {
        QMessageBox::warning(this, Caption,
                             QStringLiteral("%1: %2").arg(e.error().number()).arg(e.error().description));
        return;
    }
    QDialog::accept();
}

} // namespace qf
