#version 120
// Diffuse light (irradiance) per texel, with the normal map on unit 1. The base colour is applied
// after the blur, by the final pass, so it is not read here.
uniform sampler2D Base;
uniform sampler2D NormalMap;
varying vec3 eyePosition;
varying vec3 eyeNormal;
varying vec3 eyeTangent;
varying vec3 eyeBinormal;

vec3 TangentNormal(vec2 uv)
{
    vec3 c = (texture2D(NormalMap, uv).rgb * 255.0 - 127.0) / 128.0;
    return normalize(vec3(c.x, -c.y, c.z));
}

void main()
{
    vec3 n0 = normalize(eyeNormal);
    vec3 t = eyeTangent;
    vec3 b = eyeBinormal;
    vec3 m = TangentNormal(gl_TexCoord[0].st);
    vec3 n = normalize(t * m.x + b * m.y + n0 * m.z);
    if (dot(t, t) < 1e-12 || dot(b, b) < 1e-12)
        n = n0;

    vec4 lightPos = gl_LightSource[0].position;
    vec3 l = normalize(lightPos.xyz - eyePosition * lightPos.w);
    float diffuse = max(dot(n, l), 0.0);
    vec3 light = gl_FrontLightModelProduct.sceneColor.rgb + gl_FrontLightProduct[0].ambient.rgb +
                 gl_FrontLightProduct[0].diffuse.rgb * diffuse;
    gl_FragColor = vec4(light, 1.0);
}
