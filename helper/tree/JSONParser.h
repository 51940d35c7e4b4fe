#pragma once

// The mirror builder's former name, for the start-up and refresh code until they name it themselves.
#include "tree/MirrorBuilder.h"

namespace folvane {

class JSONParser : public MirrorBuilder {
public:
    using MirrorBuilder::MirrorBuilder;
};

} // namespace folvane
