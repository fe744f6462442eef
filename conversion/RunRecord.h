#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <exception>
#include <memory>

namespace conversion
{

// The record of one run of the conversion, from the operator's Yes to its
// outcome: where, by whom, which line of business, how many rows each update
// moved, and how it ended. Written as one line of the run log (a JSON object)
// just before the outcome's box; never changes what the run does.
class RunRecord
{
public:
    // Starts the clock. The run's handler writes the record once, whatever
    // the outcome, passing the record to the steps that add to it.
    RunRecord(std::int16_t lobId, const QString& lobName);
    ~RunRecord();
    RunRecord(const RunRecord&) = delete;
    RunRecord& operator=(const RunRecord&) = delete;

    void setArrangement(bool productWise, const QString& gstAttribute);
    // The driver's count for the update of `table`; -1 where it does not know.
    void setRows(const QString& table, qint64 rows);
    // The error that sent the run to its failure path.
    void setFailure(long number, const QString& text);
    void setFailure(const std::exception_ptr& error);

    // Each writes the record once; later calls do nothing.
    void writeDone();
    void writeRefused(const QString& text);
    void writeFailed(); // with the error given to setFailure
    void writeFailed(long number, const QString& text);
    // An error that ends the program: once every update has run, whether the
    // rows moved is not known (a commit whose answer was lost).
    void writeEndedBy(const std::exception_ptr& error);

    // The record as it would be written now with this outcome.
    QByteArray line(const QString& result, const QString& outcome, const long* errorNumber) const;

    struct Data;

private:
    std::unique_ptr<Data> m_d;
};

// A text as a JSON string, with every character that could split the line or
// steer a terminal (controls, line and paragraph separators, direction marks)
// escaped, and lone surrogates replaced.
QString jsonString(const QString& text);

} // namespace conversion
