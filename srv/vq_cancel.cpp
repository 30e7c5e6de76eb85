#include "srv/vq_cancel.h"

#include "srv/vq_metrics.h"

VQ_StatementCancel::VQ_StatementCancel()
    : watch_([this](ZRM_CancelReason reason) {
        if (statements_.Cancel()) VQ_CountCancelled(reason);
      }) {}
