#pragma once

#include "alarms/alarmlimits.h"

#include <QDialog>
#include <QString>

#include <array>
#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace qf {

// "Alarm limits…": the limits file quillfern.ini as a form, one line per
// sensor (name, unit, HH, H, L, LL, deadband, delay, priority) and one for
// the station's silence. Checked as the operator types: a field that is no
// number or breaks a rule of the limits (low below high, lowLow not above
// low, high not above highHigh, deadband and delay not negative) is marked
// with what is wrong, and OK waits until all is well. OK replaces the file
// atomically.
class LimitsDialog : public QDialog {
    Q_OBJECT

public:
    // The dynamic property set on a field while it is wrong.
    static constexpr const char *InvalidProperty = "invalid";

    // Opens the file at path; when it cannot be read, the form starts from
    // fallback and says why.
    LimitsDialog(const QString &path, const AlarmLimits &fallback, QWidget *parent = nullptr);

    // The limits as the form holds them; nothing while a field is wrong.
    std::optional<AlarmLimits> limits() const;
    // A sensor's field (1 for Sensor1), or the station's silentAfter for
    // sensor 0; nothing for priorities.
    QLineEdit *field(int sensor, LimitsKey key) const;
    QPushButton *okButton() const { return m_ok; }

    // Writes the file, then closes; a failure is told and the form stays.
    void accept() override;

private:
    struct Problem {
        int sensor = 0; // 0: the station
        LimitsKey key = LimitsKey::Name;
        std::optional<LimitsKey> other;
        QString message;
    };
    struct Form {
        AlarmLimits limits;
        std::optional<Problem> problem;
    };
    Form read() const;
    void fill(const AlarmLimits &limits);
    void validate();
    void mark(QLineEdit *field, const QString &problem);

    QString m_path;
    std::array<std::array<QLineEdit *, LimitsKeyCount>, schema::SensorCount> m_fields{};
    std::array<QComboBox *, schema::SensorCount> m_priorities{};
    QLineEdit *m_silentAfter = nullptr;
    QComboBox *m_silentPriority = nullptr;
    QLabel *m_message = nullptr;
    QPushButton *m_ok = nullptr;
};

} // namespace qf
