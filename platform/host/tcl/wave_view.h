// wave_view.h: the drawing model's view of a host waveform, its grid found once per waveform
// and sample count.
#ifndef VEXA_WAVE_VIEW_H
#define VEXA_WAVE_VIEW_H

#include "draw/drawmodel.h"
#include "host_core.h"

namespace vexa {

// The samples of a live waveform as the drawing model reads them.
draw::SampleView ViewOfWave(const WfXWave* wave, const vexahost::WaveHeader& header);
// Drops what was kept of a waveform that is freed, since a later one may get its address.
void ForgetWaveView(const WfXWave* wave);

}  // namespace vexa

#endif
