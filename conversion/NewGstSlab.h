#pragma once

// Inserts tax record 5019, "GST 5% (18% above Rs 1000)", when vatmaster lacks
// it. The insert is a statement of its own on gConnection, outside any
// transaction, so it stays whatever the conversion does afterwards. An existing
// record 5019 is left exactly as it is. Database errors pass to the caller.
void EnsureNewGstSlab();
