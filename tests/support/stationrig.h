#pragma once

#include "app/station.h"
#include "support/fakeserialcomm.h"
#include "support/storefixture.h"

#include <QAbstractButton>
#include <QTest>

#include <functional>
#include <optional>

// The station over the in-memory serial component and a store of `records`
// records, which `prepare` may change first; its window loaded and shown.
struct StationRig {
    explicit StationRig(qint64 records = 0, const std::function<void(const StoreFixture &)> &prepare = {})
    {
        store.create(records);
        if (prepare)
            prepare(store);
        loaded = station.Form_Load();
        form.show();
    }
    QString text(const QString &control) const { return form.control(control)->property("text").toString(); }
    void click(const char *name) { QTest::mouseClick(form.control<QAbstractButton>(name), Qt::LeftButton); }

    StoreFixture store;
    FakeSerialComm comm;
    FakeMessageBoxes boxes;
    FakeErrorReport report;
    std::optional<int> endedWith;
    Station station{comm, store.dir(), boxes, report, [this](int status) { endedWith = status; }};
    Form1 &form = station.form();
    bool loaded = false;
};
