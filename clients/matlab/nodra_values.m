function [time, values, names] = nodra_values(base, path, channels)
% NODRA_VALUES  Channels of an RPC III file, from the data API of nodra-web.
%   [time, values, names] = nodra_values('http://127.0.0.1:8080/', 'examples/road-load.rsp', [1 4])
%   gives the times in seconds (a column), the values (a column per channel) and the
%   columns' headings ('time [s]', then each channel's label and unit).
%   Runs in MATLAB and in GNU Octave: it uses urlread and textscan alone.
  list = strjoin(arrayfun(@num2str, channels, 'UniformOutput', false), ',');
  text = urlread([base 'api/values?path=' path '&channel=' list]);
  ends = find(text == sprintf('\n'), 1);
  names = strsplit(strtrim(text(1:ends - 1)), ',');
  columns = textscan(text(ends + 1:end), repmat('%f', 1, numel(channels) + 1), 'Delimiter', ',');
  time = columns{1};
  values = [columns{2:end}];
end
