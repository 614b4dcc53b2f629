float4 c < string s = "\" > ;" ; > = { {1, 2}, -3, true };
sampler S = sampler_state {
