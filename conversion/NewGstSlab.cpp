#include "conversion/NewGstSlab.h"

#include "conversion/Conversion.h"
#include "platform/Text.h"
#include "state/ConnectionState.h"
#include "state/ModBase.h"

#include <QString>

namespace
{

// The blanks line the values up under the column names; the shop's own tools
// keep the statement in this form, so it is sent exactly so.
QString newGstSlabInsert()
{
    const QString crlf = QStringLiteral("\r\n");
    return QStringLiteral("insert into vatmaster ") + crlf +
           QStringLiteral(" (VATID,VATName         ,VATPer    ,SortIndex,MarginVat,Sendable,RegionalName,"
                          "EnabledForCST,RDExempt,CessBasedOn,CessPer,CessAmtPerUnit,SGSTPer,CGSTPer,IGSTPer,"
                          "UTGSTPer,SlabApplicable,SlabQuery,Disabled,RateQuery,caption) ") +
           crlf + QStringLiteral(" Values ") + crlf + QStringLiteral(" (") +
           gst::number(conversion::kNewSlabId) +
           QStringLiteral(
               ",'GST 5% (18% above Rs 1000)', 5.0000,5019     ,   0      ,    1    , ''        "
               ",0            ,0       ,1          ,   0,0     ,2.50 ,2.50,5,2.50, 1               "
               ",'select (case @additional when 1 then (case when @rate>1000 then 5005 else 5003 end) "
               "when 0 then (case when @rate>1180 then 5005 else 5003 end) end)'       ,0 ,'select "
               "(case when @rate>1050 and @rate<=1120 then 1050  else @rate end)'      ,    ''     ) ");
}

} // namespace

void EnsureNewGstSlab()
{
    if (GetScalar(QStringLiteral("select count(*) from vatmaster where vatid = ") +
                  gst::number(conversion::kNewSlabId) + QStringLiteral(" "))
            .equalsNumber(0))
        gConnection->execute(newGstSlabInsert());
}
