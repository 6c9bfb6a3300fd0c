// SEC2 (spreading and exponential compensation) gain.
#ifndef VANTIR3_PROCESSES_SEC2_GAIN_H_
#define VANTIR3_PROCESSES_SEC2_GAIN_H_

struct Sec2GainParam {
    double attenuation;  // dB per metre
    double startGain;    // gain at time zero
    double maxGain;      // largest gain ever applied
};

#endif  // VANTIR3_PROCESSES_SEC2_GAIN_H_
