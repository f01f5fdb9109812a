function test_audiomeasure(folder, expected_file)
% TEST_AUDIOMEASURE  am_measure_gain and am_measure_snr against the C API's
% bits on the demonstration files: every field of every report, written in
% the form of tests/bindings/report_dump.c and compared line for line with
% what that program wrote through the C API; then refusals, each an error
% with its identifier.
%
%   test_audiomeasure(FOLDER, EXPECTED)
%   FOLDER holds reference.wav, recording.wav, gate.wav and measured.wav;
%   EXPECTED is report_dump's output on them.
  expected = strsplit(fileread(expected_file), "\n");
  expected = expected(~cellfun(@isempty, expected));
  failures = 0;

  reference = samples(folder, 'reference.wav');
  recording = samples(folder, 'recording.wav');
  [gate, fs] = samples(folder, 'gate.wav');
  measured = samples(folder, 'measured.wav');

  report = am_measure_gain(reference, recording);
  failures += compare(expected, dump('gain.', report), 'gain.');
  if ~strcmp(report.verdict, 'trusted') || report.delay ~= 12345
    printf('FAILED: the demonstration pair is not trusted with a delay of 12345\n');
    failures += 1;
  end
  options = struct('step_period', '25.2', 'max_noise_distortion_db', -40, ...
                   'max_spread_excess_db', 0.001, 'drift_correct', true);
  failures += compare(expected, dump('gain_options.', am_measure_gain(reference, recording, options)), ...
                      'gain_options.');
  failures += compare(expected, dump('snr.', am_measure_snr(gate, measured, fs)), 'snr.');

  % Refusals: the binding's own checks, then the library's.
  bad = 'audiomeasure:badArgument';
  option = 'audiomeasure:badOption';
  failures += refused(bad, @() am_measure_gain(reference));
  failures += refused(bad, @() am_measure_gain(single(reference), recording));
  failures += refused(bad, @() am_measure_gain(complex(1:10, 1), recording));
  failures += refused(bad, @() am_measure_gain(ones(3), recording));
  failures += refused(bad, @() am_measure_snr(gate, measured, '48000'));
  failures += refused(bad, @() am_measure_snr(gate, measured, fs, 'align'));
  failures += refused(option, @() am_measure_gain(reference, recording, struct('no_such_option', 1)));
  failures += refused(option, @() am_measure_gain(reference, recording, struct('step_period', '30')));
  failures += refused(option, @() am_measure_gain(reference, recording, struct('step_period', 25)));
  failures += refused(option, @() am_measure_gain(reference, recording, struct('max_clipped_samples', -1)));
  failures += refused(option, @() am_measure_snr(gate, measured, fs, struct('align', 2)));
  failures += refused(option, @() am_measure_gain(reference, recording, ...
                                                  struct('max_noise_distortion_db', NaN)));
  failures += refused('audiomeasure:badRate', @() am_measure_snr(gate, measured, NaN));
  failures += refused('audiomeasure:shortReference', @() am_measure_gain(reference(1:1000), recording));
  failures += refused('audiomeasure:shortGate', @() am_measure_snr([], measured, fs));

  if failures > 0
    error('test_audiomeasure: %d failures', failures);
  end
  printf('am_measure_gain, am_measure_snr: every field as the C API gives it\n');
end

% A mono 16-bit PCM file's samples as their integer values.
function [x, rate] = samples(folder, name)
  [x, rate] = audioread(fullfile(folder, name), 'native');
  if ~isa(x, 'int16') || columns(x) ~= 1
    error('test_audiomeasure: %s is not mono 16-bit PCM', name);
  end
  x = double(x);
end

% The 16 hex digits of a double's bits.
function h = hex(x)
  w = typecast(double(x), 'uint32');
  h = sprintf('%08x%08x', w(2), w(1));
end

% Every field of a report, as report_dump writes the C report's.
function lines = dump(prefix, s)
  lines = {};
  names = fieldnames(s);
  for i = 1:numel(names)
    key = [prefix names{i}];
    v = s.(names{i});
    if ischar(v)
      lines{end + 1} = [key ' =' v];
    elseif iscellstr(v)
      lines{end + 1} = [key ' =' strjoin(v, ',')];
    elseif iscell(v)
      for k = 1:numel(v)
        lines{end + 1} = sprintf('%s[%d] =%s', key, k - 1, strjoin(v{k}, ','));
      end
    elseif isscalar(v)
      lines{end + 1} = [key ' ' hex(v)];
    else
      for k = 1:numel(v)
        lines{end + 1} = sprintf('%s[%d] %s', key, k - 1, hex(v(k)));
      end
    end
  end
end

function failures = compare(expected, got, prefix)
  want = expected(strncmp(expected, prefix, numel(prefix)));
  missing = setdiff(want, got);
  extra = setdiff(got, want);
  for i = 1:numel(missing)
    printf('FAILED: want %s\n', missing{i});
  end
  for i = 1:numel(extra)
    printf('FAILED: got %s\n', extra{i});
  end
  failures = numel(missing) + numel(extra) + isempty(want);
end

function failures = refused(id, call)
  failures = 1;
  try
    call();
    printf('FAILED: %s not refused\n', func2str(call));
  catch err
    if strcmp(err.identifier, id) && ~isempty(err.message)
      failures = 0;
    else
      printf('FAILED: %s: %s (%s) instead of %s\n', func2str(call), err.identifier, err.message, id);
    end
  end
end
